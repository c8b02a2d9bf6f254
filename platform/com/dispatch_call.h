// The one place that calls a vtable slot with arguments decided at run time (the dispatch call).
#pragma once

#include "platform/com/wintypes.h"

constexpr size_t kDispatchCallMaxArgs = 8;

// Calls slot `slot` of the interface pointer `instance` as HRESULT f(instance, args[0..count)).
// Every argument must already be widened to a full register: signed values sign-extended,
// unsigned ones zero-extended, pointers as they are. count <= kDispatchCallMaxArgs.
HRESULT CallVtableSlot(void* instance, size_t slot, const uintptr_t* args, size_t count);
