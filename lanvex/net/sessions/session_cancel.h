// IlvCancel: lets the client of a session component end its blocking calls from another thread.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/wintypes.h"

constexpr IID IID_IlvCancel = MakeGuid("{E3482765-F278-4AD5-B332-3172FC9A3700}");

// Optional: a client that may have to stop a session while it connects or reads hands it a
// descriptor (an eventfd or the read end of a pipe, owned by the client) that becomes readable
// when the client wants the calls in flight to end; they then fail with E_FAIL at once. -1
// forgets the descriptor. The descriptor must stay open while the component holds it.
struct IlvCancel : public IUnknown
{
    STDMETHOD(SetCancelDescriptor)(LONG fd) = 0; // slot 3

  protected:
    ~IlvCancel() = default;
};
