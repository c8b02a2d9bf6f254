// The one place that calls a vtable slot with arguments decided at run time (the dispatch call).
#pragma once

#include "platform/com/variant.h"

constexpr size_t kDispatchCallMaxArgs = 8;

// One argument of a run-time call: its type and where its value lies. Type is a by-value
// automation type (VT_I1 ... VT_UI8, VT_INT, VT_UINT, VT_R4, VT_R8, VT_BOOL, VT_ERROR, VT_BSTR,
// VT_DISPATCH, VT_UNKNOWN), or VT_PTR for any pointer; Value points at storage of that type
// (for VT_PTR, at the pointer itself).
struct DispatchCallArg
{
    VARTYPE Type = VT_EMPTY;
    const void* Value = nullptr;
};

// Calls slot `slot` of the interface pointer `instance` as HRESULT f(instance, args[0..count)),
// with the platform's own calling convention. count <= kDispatchCallMaxArgs; a type it cannot
// pass gives DISP_E_BADVARTYPE without calling.
HRESULT CallVtableSlot(void* instance, size_t slot, const DispatchCallArg* args, size_t count);
