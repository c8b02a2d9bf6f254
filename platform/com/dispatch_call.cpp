// Calls a vtable slot with a run-time argument list through libffi.
//
// A member function of an interface (single inheritance, no virtual destructor) is an ordinary
// function taking `this` first, and slot n is entry n of the vtable; libffi builds the call the
// compiler would have built for the declared parameter types, floating-point ones included.
#include "platform/com/dispatch_call.h"

#include <ffi.h>

namespace
{
ffi_type* FfiTypeOf(VARTYPE vt)
{
    switch (vt)
    {
    case VT_I1:
        return &ffi_type_sint8;
    case VT_UI1:
        return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
        return &ffi_type_sint16;
    case VT_UI2:
        return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
        return &ffi_type_uint32;
    case VT_I8:
        return &ffi_type_sint64;
    case VT_UI8:
        return &ffi_type_uint64;
    case VT_R4:
        return &ffi_type_float;
    case VT_R8:
        return &ffi_type_double;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_PTR:
        return &ffi_type_pointer;
    default:
        return nullptr;
    }
}
} // namespace

HRESULT CallVtableSlot(void* instance, size_t slot, const DispatchCallArg* args, size_t count)
{
    static_assert(sizeof(HRESULT) == 4, "HRESULT is returned as a 32-bit signed integer");
    if (!instance || count > kDispatchCallMaxArgs)
        return DISP_E_BADPARAMCOUNT;
    ffi_type* types[kDispatchCallMaxArgs + 1];
    void* values[kDispatchCallMaxArgs + 1];
    types[0] = &ffi_type_pointer;
    values[0] = &instance;
    for (size_t i = 0; i < count; ++i)
    {
        types[i + 1] = FfiTypeOf(args[i].Type);
        if (!types[i + 1] || !args[i].Value)
            return DISP_E_BADVARTYPE;
        values[i + 1] = const_cast<void*>(args[i].Value); // libffi only reads argument values
    }
    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, static_cast<unsigned>(count + 1), &ffi_type_sint32,
                     types) != FFI_OK)
        return E_UNEXPECTED;
    void* fn = (*static_cast<void***>(instance))[slot];
    ffi_arg result = 0; // libffi widens small integer results to a full register
    ffi_call(&cif, reinterpret_cast<void (*)()>(fn), &result, values);
    return static_cast<HRESULT>(static_cast<int32_t>(result));
}
