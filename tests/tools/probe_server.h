// The test server module's identity and interface: a small in-process server that exercises every
// path of the runtime (registration, activation, vtable and dispatch calls, error objects,
// unloading).
#pragma once

#include "platform/com/comrt.h"

constexpr GUID LIBID_ProbeLib = MakeGuid("{5C1B7A40-2D3E-4F51-9A6B-7C8D9E0F1A21}");
constexpr IID IID_IProbe = MakeGuid("{5C1B7A41-2D3E-4F51-9A6B-7C8D9E0F1A21}");
constexpr CLSID CLSID_Probe = MakeGuid("{5C1B7A42-2D3E-4F51-9A6B-7C8D9E0F1A21}");
constexpr const char* kProbeProgId = "ComrtTest.Probe.1";
constexpr const char* kProbeIndependentProgId = "ComrtTest.Probe";

// Dual interface; slots 0-6 are IUnknown and IDispatch.
struct IProbe : public IDispatch
{
    STDMETHOD(get_Name)(BSTR* pVal) = 0;                 // 7, DISPID 1
    STDMETHOD(put_Name)(BSTR newVal) = 0;                // 8
    STDMETHOD(get_Count)(SHORT* pVal) = 0;               // 9, DISPID 2
    STDMETHOD(put_Count)(SHORT newVal) = 0;              // 10
    STDMETHOD(get_Total)(LONG* pVal) = 0;                // 11, DISPID 3
    STDMETHOD(put_Total)(LONG newVal) = 0;               // 12
    STDMETHOD(get_Enabled)(VARIANT_BOOL* pVal) = 0;      // 13, DISPID 4
    STDMETHOD(put_Enabled)(VARIANT_BOOL newVal) = 0;     // 14
    STDMETHOD(Add)(SHORT a, LONG b, LONG* sum) = 0;      // 15, DISPID 5
    STDMETHOD(Concat)(BSTR a, BSTR b, BSTR* joined) = 0; // 16, DISPID 6
    STDMETHOD(Fail)(BSTR description) = 0;               // 17, DISPID 7
    STDMETHOD(IsReady)() = 0;                            // 18, DISPID 8
    STDMETHOD(GetBuffer)(char** text, SHORT* size) = 0;  // 19, DISPID 9
    STDMETHOD(Sum7)
    (LONG a, LONG b, LONG c, LONG d, LONG e, LONG f, LONG g, LONG* sum) = 0; // 20, 10
    STDMETHOD(Twice)(SHORT* value) = 0;                                      // 21, DISPID 11
    // Floating-point arguments between integer ones: n * factor + offset.
    STDMETHOD(Scale)(SHORT n, double factor, LONG pad, float offset, double* result) = 0; // 22, 12
    STDMETHOD(get_Ratio)(float* pVal) = 0;  // 23, DISPID 13
    STDMETHOD(put_Ratio)(float newVal) = 0; // 24

  protected:
    ~IProbe() = default;
};

// The description its type library is built from (also used by tests to write a .tlb).
TypeLibDesc MakeProbeTypeLibDesc();
