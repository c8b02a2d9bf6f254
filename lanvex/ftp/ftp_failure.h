// One failed FTP step, thrown inside the components and turned into a result (HRESULT plus the
// thread's error object) by one guard at each interface method.
#pragma once

#include "platform/com/unknown.h"

#include <string>
#include <utility>

namespace lanvex
{

// The first failure of a call is the one thrown; clean-up after it never replaces it.
struct CFtpFailure
{
    HRESULT Result;
    std::string Description;
};

[[noreturn]] inline void ThrowFtp(HRESULT hr, std::string description)
{
    throw CFtpFailure{hr, std::move(description)};
}

// Runs body (which returns the call's success result) and turns whatever it throws into a result:
// CFtpFailure as it says, a transport failure as E_FAIL, running out of memory as E_OUTOFMEMORY,
// anything else as E_UNEXPECTED; each with an error object for clsid/iid. Nothing escapes.
HRESULT GuardFtpCall(REFCLSID clsid, REFIID iid, HRESULT (*pBody)(void*), void* pContext);

template <class Body> HRESULT GuardFtp(REFCLSID clsid, REFIID iid, Body&& body)
{
    return GuardFtpCall(
        clsid, iid, [](void* p) -> HRESULT { return (*static_cast<Body*>(p))(); }, &body);
}

} // namespace lanvex
