// Fuzzes the type library reader: any bytes fail cleanly, or give a valid library that writes back
// to the same bytes and whose Windows-shaped views can be walked.
#include "platform/com/comrt.h"

#include <cstdlib>
#include <cstring>

namespace
{
// The header's checksum would stop almost every mutation at the door; the fuzzer mostly mutates
// the payload, and this fixes the checksum up so the reader's structure checks get exercised.
std::vector<BYTE> WithChecksum(const uint8_t* data, size_t size)
{
    std::vector<BYTE> bytes(data, data + size);
    if (bytes.size() >= 16 && (bytes[0] & 1))
    {
        uint32_t h = 2166136261u;
        for (size_t i = 16; i < bytes.size(); ++i)
            h = (h ^ bytes[i]) * 16777619u;
        bytes[0] = 'C';
        for (int i = 0; i < 4; ++i)
            bytes[12 + i] = static_cast<BYTE>(h >> (8 * i));
    }
    return bytes;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<BYTE> bytes = WithChecksum(data, size);
    TypeLibDesc desc;
    HRESULT hr = ParseTypeLib(bytes.data(), bytes.size(), &desc);
    if (FAILED(hr))
    {
        if (hr != TYPE_E_INVDATAREAD && hr != TYPE_E_UNSUPFORMAT)
            std::abort();
        return 0;
    }
    if (SerializeTypeLib(desc) != bytes)
        std::abort(); // one form per library: what was read writes back the same
    ITypeLib* lib = nullptr;
    if (FAILED(CreateTypeLibFromDesc(desc, &lib)))
        std::abort(); // the reader validated it already
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i)
    {
        ITypeInfo* info = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)))
            std::abort();
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        for (UINT f = 0; f < attr->cFuncs; ++f)
        {
            FUNCDESC* fd = nullptr;
            if (SUCCEEDED(info->GetFuncDesc(f, &fd)))
            {
                BSTR names[10] = {};
                UINT count = 0;
                if (SUCCEEDED(info->GetNames(fd->memid, names, 10, &count)))
                    for (UINT n = 0; n < count; ++n)
                        SysFreeString(names[n]);
            }
        }
        info->Release();
    }
    lib->Release();
    return 0;
}
