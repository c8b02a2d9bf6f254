// Type information of the library's interfaces for the components' IDispatch, loaded from the
// registered LANVEXLib on first use and kept until the module unloads.
#pragma once

#include "platform/com/typelib.h"

#include <mutex>

namespace lanvex
{

// The locale the library is registered under.
constexpr LCID kLanvexTypeLibLcid = 0x0409;

// Held as a function-local static by each component: its destructor releases the type
// information when the module unloads, and nothing else may touch it afterwards.
class CLanvexTypeInfo
{
public:
    explicit CLanvexTypeInfo(REFIID iid) : m_iid(iid) {}
    ~CLanvexTypeInfo() { Reset(); }
    CLanvexTypeInfo(const CLanvexTypeInfo&) = delete;
    CLanvexTypeInfo& operator=(const CLanvexTypeInfo&) = delete;

    // The interface's type information with a reference added. A failed load (the library not
    // registered yet) is not remembered, so a later call tries again.
    HRESULT Get(ITypeInfo** ppTInfo);
    void Reset();

private:
    IID m_iid;
    std::mutex m_mutex;
    ITypeInfo* m_pInfo = nullptr;
};

} // namespace lanvex
