// Calls a vtable slot with a run-time argument list.
//
// Why this works: every parameter type dispatch passes (BSTR, pointers, SHORT, LONG, VARIANT_BOOL,
// interface pointers) is of integer class. On x86-64 System V and AArch64 such arguments go in
// integer registers and then in 8-byte stack slots, in order, whatever their declared width, as
// long as the caller widens them (which the dispatcher does). A member function of an interface
// (single inheritance, no virtual destructor) is an ordinary function taking `this` first, and
// slot n is entry n of the vtable. So a function pointer taking the instance plus N uintptr_t
// arguments calls it exactly as compiled code would. Other ABIs (32-bit x86 with stdcall, Windows
// x64 shadow space) would need their own version: they are refused at compile time.
#include "platform/com/dispatch_call.h"

#include "platform/com/hresult.h"

#if !defined(__x86_64__) && !defined(__aarch64__)
#error "CallVtableSlot is only valid on x86-64 System V and AArch64"
#endif
static_assert(sizeof(uintptr_t) == sizeof(void*) && sizeof(void*) == 8,
              "the dispatch call assumes 64-bit registers");

#if defined(__clang__)
// The callee's real type differs from the pointer type by design; see above.
#define COMRT_NO_FUNCTION_SANITIZER __attribute__((no_sanitize("function")))
#else
#define COMRT_NO_FUNCTION_SANITIZER
#endif

COMRT_NO_FUNCTION_SANITIZER
HRESULT CallVtableSlot(void* instance, size_t slot, const uintptr_t* a, size_t count)
{
    using U = uintptr_t;
    void* fn = (*static_cast<void***>(instance))[slot];
    switch (count)
    {
    case 0: return reinterpret_cast<HRESULT (*)(void*)>(fn)(instance);
    case 1: return reinterpret_cast<HRESULT (*)(void*, U)>(fn)(instance, a[0]);
    case 2: return reinterpret_cast<HRESULT (*)(void*, U, U)>(fn)(instance, a[0], a[1]);
    case 3: return reinterpret_cast<HRESULT (*)(void*, U, U, U)>(fn)(instance, a[0], a[1], a[2]);
    case 4:
        return reinterpret_cast<HRESULT (*)(void*, U, U, U, U)>(fn)(instance, a[0], a[1], a[2], a[3]);
    case 5:
        return reinterpret_cast<HRESULT (*)(void*, U, U, U, U, U)>(fn)(instance, a[0], a[1], a[2],
                                                                       a[3], a[4]);
    case 6:
        return reinterpret_cast<HRESULT (*)(void*, U, U, U, U, U, U)>(fn)(instance, a[0], a[1],
                                                                          a[2], a[3], a[4], a[5]);
    case 7:
        return reinterpret_cast<HRESULT (*)(void*, U, U, U, U, U, U, U)>(fn)(
            instance, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    case 8:
        return reinterpret_cast<HRESULT (*)(void*, U, U, U, U, U, U, U, U)>(fn)(
            instance, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    default: return DISP_E_BADPARAMCOUNT;
    }
}
