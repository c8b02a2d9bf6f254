// IDispatch::Invoke of the test server's members: argument coercion, the libffi call and the
// result, for integer arguments (Add) and for doubles and floats between integers (Scale).
#include "platform/com/comrt.h"
#include "tests/platform/com/test_hive.h"
#include "tests/tools/probe_server.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <string>
#include <vector>

namespace
{

// One registered, created object for the whole run.
struct CProbeSession
{
    CTestHive Hive;
    IDispatch* Object = nullptr;

    CProbeSession()
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (void* module = dlopen(PROBE_SERVER_PATH, RTLD_NOW | RTLD_LOCAL))
        {
            if (auto reg = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(module, "DllRegisterServer")))
                reg();
            dlclose(module);
        }
        CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(&Object));
    }
    ~CProbeSession()
    {
        if (Object)
            Object->Release();
        CoUninitialize();
    }
    DISPID Id(const char16_t* name)
    {
        std::u16string text(name);
        LPOLESTR names[] = {text.data()};
        DISPID id = DISPID_UNKNOWN;
        Object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        return id;
    }
};

CProbeSession& Session()
{
    static CProbeSession s_session;
    return s_session;
}

VARIANT Value(VARTYPE vt, double d)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_R8)
        v.dblVal = d;
    else
        v.lVal = static_cast<LONG>(d);
    return v;
}

// Arguments are given last first, as DISPPARAMS holds them.
void RunInvoke(benchmark::State& state, const char16_t* member, std::vector<VARIANT> args)
{
    CProbeSession& session = Session();
    if (!session.Object)
    {
        state.SkipWithError("the test server could not be created");
        return;
    }
    const DISPID id = session.Id(member);
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VARIANT result;
    VariantInit(&result);
    for (auto _ : state)
    {
        HRESULT hr = session.Object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result,
                                            nullptr, nullptr);
        benchmark::DoNotOptimize(hr);
        VariantClear(&result);
    }
}

void BM_InvokeIntegers(benchmark::State& state)
{
    RunInvoke(state, u"Add", {Value(VT_I4, 40000), Value(VT_I4, 3)});
}
BENCHMARK(BM_InvokeIntegers);

void BM_InvokeFloatingPoint(benchmark::State& state)
{
    RunInvoke(state, u"Scale",
              {Value(VT_R8, -0.25), Value(VT_I4, 100), Value(VT_R8, 0.5), Value(VT_I4, 3)});
}
BENCHMARK(BM_InvokeFloatingPoint);

} // namespace

BENCHMARK_MAIN();
