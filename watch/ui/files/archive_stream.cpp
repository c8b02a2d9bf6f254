// The little-endian archive stream of watch logs: int32 values and length-prefixed strings.
#include "watch/ui/files/archive_stream.h"

#include "platform/com/conversion.h"
#include "watch/engine/text_field.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

static_assert(std::endian::native == std::endian::little,
              "archive values are written as native little-endian images");

namespace
{
constexpr uint8_t kLongLength = 0xFF;
constexpr uint16_t kWideMarker = 0xFFFE;
constexpr uint16_t kHugeLength = 0xFFFF;

uint16_t UnitAt(std::string_view data, std::size_t i)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(data[2 * i]) |
                                 (static_cast<uint8_t>(data[2 * i + 1]) << 8));
}
} // namespace

void AppendUtf16LeAsUtf8(std::string_view data, std::size_t count, std::string& out,
                         std::size_t limit)
{
    // Every code unit gives at least one byte, so units past the limit need no converting.
    const std::size_t units = std::min(count, limit + 1);
    std::u16string wide(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        wide[i] = static_cast<char16_t>(UnitAt(data, i));
    out += WideToNarrow(std::u16string_view(wide));
}

void CArchiveWriter::WriteU16(uint16_t value)
{
    m_bytes.push_back(static_cast<char>(value & 0xFF));
    m_bytes.push_back(static_cast<char>(value >> 8));
}

void CArchiveWriter::WriteU32(uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void CArchiveWriter::WriteInt32(int32_t value)
{
    WriteU32(static_cast<uint32_t>(value));
}

void CArchiveWriter::WriteInt64(int64_t value)
{
    const auto bits = static_cast<uint64_t>(value);
    WriteU32(static_cast<uint32_t>(bits & 0xFFFFFFFFu));
    WriteU32(static_cast<uint32_t>(bits >> 32));
}

void CArchiveWriter::WriteLength(uint64_t length)
{
    if (length < kLongLength)
    {
        m_bytes.push_back(static_cast<char>(length));
        return;
    }
    m_bytes.push_back(static_cast<char>(kLongLength));
    if (length < kWideMarker)
    {
        WriteU16(static_cast<uint16_t>(length));
        return;
    }
    WriteU16(kHugeLength);
    WriteU32(static_cast<uint32_t>(length));
}

void CArchiveWriter::WriteString(std::string_view text)
{
    WriteLength(text.size());
    m_bytes.append(text);
}

void CArchiveWriter::WriteWideString(std::u16string_view text)
{
    m_bytes.push_back(static_cast<char>(kLongLength));
    WriteU16(kWideMarker);
    WriteLength(text.size());
    for (char16_t unit : text)
        WriteU16(static_cast<uint16_t>(unit));
}

bool CArchiveReader::Take(std::size_t count, std::string_view& out)
{
    if (count > Remaining())
        return false;
    out = m_bytes.substr(m_pos, count);
    m_pos += count;
    return true;
}

// Fixed-width integers are stored as the writer's little-endian bytes.
template <class T> ArchiveStatus CArchiveReader::ReadFixed(T& value)
{
    std::string_view raw;
    if (!Take(sizeof value, raw))
        return ArchiveStatus::EndOfFile;
    std::make_unsigned_t<T> bits = 0;
    std::memcpy(&bits, raw.data(), sizeof bits);
    value = static_cast<T>(bits);
    return ArchiveStatus::Ok;
}

ArchiveStatus CArchiveReader::ReadInt32(int32_t& value)
{
    return ReadFixed(value);
}

ArchiveStatus CArchiveReader::ReadInt64(int64_t& value)
{
    return ReadFixed(value);
}

ArchiveStatus CArchiveReader::ReadLength(uint64_t& length, bool& wide)
{
    std::string_view raw;
    if (!Take(1, raw))
        return ArchiveStatus::EndOfFile;
    const uint8_t first = static_cast<uint8_t>(raw[0]);
    if (first < kLongLength)
    {
        length = first;
        return ArchiveStatus::Ok;
    }
    if (!Take(2, raw))
        return ArchiveStatus::EndOfFile;
    uint16_t word = 0;
    std::memcpy(&word, raw.data(), 2);
    if (word == kWideMarker)
    {
        // One wide marker is allowed; a second one is no length at all.
        if (wide)
            return ArchiveStatus::BadFormat;
        wide = true;
        return ReadLength(length, wide);
    }
    if (word != kHugeLength)
    {
        length = word;
        return ArchiveStatus::Ok;
    }
    if (!Take(4, raw))
        return ArchiveStatus::EndOfFile;
    uint32_t dword = 0;
    std::memcpy(&dword, raw.data(), 4);
    length = dword;
    return ArchiveStatus::Ok;
}

// A string's bytes as stored (UTF-16LE when wide) and its length in characters.
ArchiveStatus CArchiveReader::ReadRawString(std::string_view& raw, uint64_t& length, bool& wide)
{
    if (const ArchiveStatus status = ReadLength(length, wide); status != ArchiveStatus::Ok)
        return status;
    const uint64_t byteCount = wide ? length * 2 : length;
    if (byteCount > Remaining() || !Take(static_cast<std::size_t>(byteCount), raw))
        return ArchiveStatus::EndOfFile;
    return ArchiveStatus::Ok;
}

ArchiveStatus CArchiveReader::ReadStringInto(char* field, std::size_t width)
{
    uint64_t length = 0;
    bool wide = false;
    std::string_view raw;
    if (const ArchiveStatus status = ReadRawString(raw, length, wide); status != ArchiveStatus::Ok)
        return status;
    if (!wide)
    {
        CopyToField(field, width, raw);
        return ArchiveStatus::Ok;
    }
    // Convert only as much as the field can hold, plus one character to judge the cut.
    std::string utf8;
    AppendUtf16LeAsUtf8(raw, static_cast<std::size_t>(length), utf8, width + 4);
    CopyToField(field, width, utf8);
    return ArchiveStatus::Ok;
}

ArchiveStatus CArchiveReader::ReadBoundedString(std::string& out, std::size_t limit)
{
    uint64_t length = 0;
    bool wide = false;
    std::string_view raw;
    if (const ArchiveStatus status = ReadRawString(raw, length, wide); status != ArchiveStatus::Ok)
        return status;
    out.clear();
    if (wide)
        AppendUtf16LeAsUtf8(raw, static_cast<std::size_t>(length), out, limit + 1);
    else
        out.assign(raw.substr(0, std::min<std::size_t>(raw.size(), limit + 1)));
    return out.size() > limit ? ArchiveStatus::BadFormat : ArchiveStatus::Ok;
}
