// comcall PROGID STEP...: creates an object by ProgID (or {CLSID}) and drives it through IDispatch.
#include "tools/comcall_steps.h"

#include <cstdio>

namespace
{
void PrintUsage(FILE* to)
{
    std::fprintf(to,
                 "usage: comcall PROGID STEP...\n"
                 "  creates the object PROGID (or {CLSID}) and runs each STEP through IDispatch:\n"
                 "    Name=value        puts a property\n"
                 "    Name              gets a property, or calls a method without arguments\n"
                 "    Name(arg, ...)    calls a method with arguments\n"
                 "  Arguments: numbers, \"quoted text\" or bare text; each is coerced to the\n"
                 "  parameter's type. Each step prints one line: the value, or the result code\n"
                 "  (0x00000000) and, on failure, the error object's description. comcall stops\n"
                 "  with exit status 1 at the first failure; 2 means bad usage.\n"
                 "  --help shows this text, --version the version.\n");
}

int Usage()
{
    PrintUsage(stderr);
    return 2;
}

struct Apartment
{
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
};
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const std::string first = argv[1];
    if (first == "--help" || first == "-h")
    {
        PrintUsage(stdout);
        return 0;
    }
    if (first == "--version")
    {
        std::printf("comcall %s\n", VIGIL_VERSION);
        return 0;
    }
    if (first.empty() || first[0] == '-')
        return Usage();
    std::vector<Step> steps;
    for (int i = 2; i < argc; ++i)
    {
        Step step;
        std::string error;
        if (!ParseStep(argv[i], &step, &error))
        {
            std::fprintf(stderr, "comcall: %s\n", error.c_str());
            return 2;
        }
        steps.push_back(step);
    }

    Apartment apartment;
    std::string progId = argv[1];
    std::u16string wide = NarrowToWide(progId);
    CLSID clsid;
    HRESULT hr = progId.size() && progId[0] == '{' ? CLSIDFromString(wide.c_str(), &clsid)
                                                   : CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr))
    {
        std::fprintf(stderr, "comcall: %s is not a registered ProgID or CLSID: %s %s\n",
                     progId.c_str(), HResultHex(hr).c_str(), HResultText(hr).c_str());
        if (!ComrtLastErrorText().empty() && hr == REGDB_E_READREGDB)
            std::fprintf(stderr, "comcall: %s\n", ComrtLastErrorText().c_str());
        return 1;
    }
    IDispatch* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&object));
    if (FAILED(hr))
    {
        std::fprintf(stderr, "comcall: cannot create %s: %s %s\n", progId.c_str(),
                     HResultHex(hr).c_str(), HResultText(hr).c_str());
        if (!ComrtLastErrorText().empty())
            std::fprintf(stderr, "comcall: %s\n", ComrtLastErrorText().c_str());
        return 1;
    }

    int status = 0;
    for (const Step& step : steps)
    {
        StepResult result = RunStep(object, step);
        std::printf("%s\n", ResultLine(result).c_str());
        std::fflush(stdout);
        if (FAILED(result.Hr))
        {
            std::fprintf(stderr, "comcall: %s\n", result.Detail.c_str());
            status = 1;
            break;
        }
    }
    object->Release();
    return status;
}
