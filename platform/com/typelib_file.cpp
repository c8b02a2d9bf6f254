// The .tlb byte form of a type library description: the writer, the bounded reader and the file.
#include "platform/com/typelib_model.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// The .tlb header; every integer little-endian.
struct TlbHeader
{
    char Magic[4];        // "CMTL"
    uint16_t Version;     // kTlbVersion
    uint16_t HeaderSize;  // sizeof(TlbHeader)
    uint32_t PayloadSize; // bytes after the header
    uint32_t Checksum;    // FNV-1a over the payload
};
static_assert(sizeof(TlbHeader) == 16, "the .tlb header is 16 bytes");
static_assert(offsetof(TlbHeader, Version) == 4 && offsetof(TlbHeader, HeaderSize) == 6 &&
                  offsetof(TlbHeader, PayloadSize) == 8 && offsetof(TlbHeader, Checksum) == 12,
              "the .tlb header layout is fixed");
constexpr char kMagic[4] = {'C', 'M', 'T', 'L'};
constexpr uint16_t kTlbVersion = 1;

uint32_t Fnv1a(const BYTE* data, size_t size)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

class CWriter
{
  public:
    std::vector<BYTE> Bytes;
    void U8(uint8_t v) { Bytes.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Str(const std::string& s)
    {
        U32(static_cast<uint32_t>(s.size()));
        Bytes.insert(Bytes.end(), s.begin(), s.end());
    }
    void Guid(const GUID& g)
    {
        U32(g.Data1);
        U16(g.Data2);
        U16(g.Data3);
        Bytes.insert(Bytes.end(), g.Data4, g.Data4 + 8);
    }
};

class CReader
{
  public:
    CReader(const BYTE* data, size_t size) : m_data(data), m_size(size) {}
    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_pos == m_size; }
    uint8_t U8()
    {
        if (!Need(1))
            return 0;
        return m_data[m_pos++];
    }
    uint16_t U16()
    {
        uint16_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    uint32_t U32()
    {
        uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }
    std::string Str()
    {
        uint32_t n = U32();
        if (n > kTypeLibMaxString || !Need(n))
        {
            m_ok = false;
            return std::string();
        }
        std::string s(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return s;
    }
    GUID Guid()
    {
        GUID g{};
        g.Data1 = U32();
        g.Data2 = U16();
        g.Data3 = U16();
        for (BYTE& b : g.Data4)
            b = U8();
        return g;
    }
    // A count of items, each at least minBytes long: bounded by the cap and by what is left.
    size_t Count(size_t minBytes)
    {
        uint32_t n = U32();
        if (n > kTypeLibMaxItems || (minBytes && n > (m_size - m_pos) / minBytes))
        {
            m_ok = false;
            return 0;
        }
        return n;
    }

  private:
    bool Need(size_t n)
    {
        if (!m_ok || n > m_size - m_pos)
        {
            m_ok = false;
            return false;
        }
        return true;
    }
    const BYTE* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};
} // namespace

std::vector<BYTE> SerializeTypeLib(const TypeLibDesc& desc)
{
    CWriter w;
    w.Str(desc.Name);
    w.Guid(desc.Libid);
    w.U16(desc.MajorVersion);
    w.U16(desc.MinorVersion);
    w.U32(desc.Lcid);
    w.U32(static_cast<uint32_t>(desc.SysKind));
    w.U16(desc.Flags);
    w.Str(desc.HelpString);
    w.Str(desc.HelpFile);
    w.U32(static_cast<uint32_t>(desc.Imports.size()));
    for (const TypeLibImportDesc& imp : desc.Imports)
    {
        w.Str(imp.Name);
        w.Guid(imp.Libid);
        w.U16(imp.MajorVersion);
        w.U16(imp.MinorVersion);
    }
    w.U32(static_cast<uint32_t>(desc.Interfaces.size()));
    for (const TypeLibInterfaceDesc& itf : desc.Interfaces)
    {
        w.Str(itf.Name);
        w.Guid(itf.Iid);
        w.Str(itf.HelpString);
        w.U16(itf.Flags);
        w.U16(itf.MajorVersion);
        w.U16(itf.MinorVersion);
        w.Str(itf.BaseName);
        w.Guid(itf.BaseIid);
        w.U32(static_cast<uint32_t>(itf.Funcs.size()));
        for (const TypeLibFuncDesc& f : itf.Funcs)
        {
            w.Str(f.Name);
            w.U32(static_cast<uint32_t>(f.Id));
            w.U32(static_cast<uint32_t>(f.Kind));
            w.U16(static_cast<uint16_t>(f.Slot));
            w.Str(f.HelpString);
            w.U16(f.ReturnType);
            w.U32(static_cast<uint32_t>(f.Params.size()));
            for (const TypeLibParamDesc& p : f.Params)
            {
                w.Str(p.Name);
                w.U16(p.Type);
                w.U8(p.PointerLevel);
                w.U16(p.Flags);
            }
        }
    }
    w.U32(static_cast<uint32_t>(desc.Coclasses.size()));
    for (const TypeLibCoclassDesc& co : desc.Coclasses)
    {
        w.Str(co.Name);
        w.Guid(co.Clsid);
        w.Str(co.HelpString);
        w.U16(co.Flags);
        w.U32(static_cast<uint32_t>(co.Interfaces.size()));
        for (const std::string& name : co.Interfaces)
            w.Str(name);
    }

    CWriter h;
    h.Bytes.insert(h.Bytes.end(), kMagic, kMagic + 4);
    h.U16(kTlbVersion);
    h.U16(sizeof(TlbHeader));
    h.U32(static_cast<uint32_t>(w.Bytes.size()));
    h.U32(Fnv1a(w.Bytes.data(), w.Bytes.size()));
    h.Bytes.insert(h.Bytes.end(), w.Bytes.begin(), w.Bytes.end());
    return h.Bytes;
}

HRESULT ParseTypeLib(const BYTE* data, size_t size, TypeLibDesc* out)
{
    if (!out || (!data && size))
        return E_INVALIDARG;
    auto bad = [](const std::string& why)
    {
        ComrtSetLastErrorText("type library data: " + why);
        return TYPE_E_INVDATAREAD;
    };
    if (size < sizeof(TlbHeader) || std::memcmp(data, kMagic, 4) != 0)
        return bad("not a type library (no CMTL header)");
    CReader head(data, sizeof(TlbHeader));
    head.U32();
    uint16_t version = head.U16();
    uint16_t headerSize = head.U16();
    uint32_t payloadSize = head.U32();
    uint32_t checksum = head.U32();
    if (version > kTlbVersion)
    {
        ComrtSetLastErrorText("type library data: format version " + std::to_string(version) +
                              " is newer than this runtime reads");
        return TYPE_E_UNSUPFORMAT;
    }
    if (version == 0 || headerSize != sizeof(TlbHeader) || payloadSize != size - sizeof(TlbHeader))
        return bad("truncated or oversized");
    const BYTE* payload = data + sizeof(TlbHeader);
    if (Fnv1a(payload, payloadSize) != checksum)
        return bad("checksum mismatch (damaged)");

    CReader r(payload, payloadSize);
    TypeLibDesc d;
    d.Name = r.Str();
    d.Libid = r.Guid();
    d.MajorVersion = r.U16();
    d.MinorVersion = r.U16();
    d.Lcid = r.U32();
    uint32_t sysKind = r.U32();
    if (sysKind > SYS_WIN64)
        return bad("unknown system kind");
    d.SysKind = static_cast<SYSKIND>(sysKind);
    d.Flags = r.U16();
    d.HelpString = r.Str();
    d.HelpFile = r.Str();
    for (size_t n = r.Count(24); n-- > 0 && r.Ok();)
    {
        TypeLibImportDesc imp;
        imp.Name = r.Str();
        imp.Libid = r.Guid();
        imp.MajorVersion = r.U16();
        imp.MinorVersion = r.U16();
        d.Imports.push_back(std::move(imp));
    }
    for (size_t n = r.Count(50); n-- > 0 && r.Ok();)
    {
        TypeLibInterfaceDesc itf;
        itf.Name = r.Str();
        itf.Iid = r.Guid();
        itf.HelpString = r.Str();
        itf.Flags = r.U16();
        itf.MajorVersion = r.U16();
        itf.MinorVersion = r.U16();
        itf.BaseName = r.Str();
        itf.BaseIid = r.Guid();
        for (size_t m = r.Count(24); m-- > 0 && r.Ok();)
        {
            TypeLibFuncDesc f;
            f.Name = r.Str();
            f.Id = static_cast<MEMBERID>(r.U32());
            // Checked before the conversion: an enum may not hold a value outside its range.
            const uint32_t kind = r.U32();
            if (kind != INVOKE_FUNC && kind != INVOKE_PROPERTYGET && kind != INVOKE_PROPERTYPUT &&
                kind != INVOKE_PROPERTYPUTREF)
                return bad("unknown invoke kind");
            f.Kind = static_cast<INVOKEKIND>(kind);
            f.Slot = static_cast<SHORT>(r.U16());
            f.HelpString = r.Str();
            f.ReturnType = r.U16();
            for (size_t k = r.Count(9); k-- > 0 && r.Ok();)
            {
                TypeLibParamDesc p;
                p.Name = r.Str();
                p.Type = r.U16();
                p.PointerLevel = r.U8();
                p.Flags = r.U16();
                f.Params.push_back(std::move(p));
                if (f.Params.size() > kTypeLibMaxParams)
                    return bad("too many parameters");
            }
            itf.Funcs.push_back(std::move(f));
        }
        d.Interfaces.push_back(std::move(itf));
    }
    for (size_t n = r.Count(30); n-- > 0 && r.Ok();)
    {
        TypeLibCoclassDesc co;
        co.Name = r.Str();
        co.Clsid = r.Guid();
        co.HelpString = r.Str();
        co.Flags = r.U16();
        for (size_t m = r.Count(4); m-- > 0 && r.Ok();)
            co.Interfaces.push_back(r.Str());
        d.Coclasses.push_back(std::move(co));
    }
    if (!r.Ok())
        return bad("truncated");
    if (!r.AtEnd())
        return bad("trailing bytes");
    if (FAILED(ValidateTypeLib(d)))
    {
        ComrtSetLastErrorText("type library data: " + ComrtLastErrorText());
        return TYPE_E_INVDATAREAD;
    }
    *out = std::move(d);
    return S_OK;
}

HRESULT WriteTypeLibFile(const TypeLibDesc& desc, const std::string& path)
{
    if (HRESULT hr = ValidateTypeLib(desc); FAILED(hr))
        return hr;
    std::vector<BYTE> bytes = SerializeTypeLib(desc);
    std::string temp = path + ".tmp-" + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        ComrtSetLastErrorText("type library " + path + ": " + std::strerror(errno));
        return TYPE_E_IOERROR;
    }
    size_t done = 0;
    while (done < bytes.size())
    {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    bool ok = done == bytes.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0)
    {
        ComrtSetLastErrorText("type library " + path + ": " + std::strerror(errno));
        unlink(temp.c_str());
        return TYPE_E_IOERROR;
    }
    return S_OK;
}
