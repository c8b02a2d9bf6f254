// The little-endian archive stream of watch logs: int32 values and length-prefixed strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A string is a length prefix and its characters: one byte for lengths up to 254; else 0xFF
// and a uint16 for lengths up to 0xFFFD; else 0xFF, uint16 0xFFFF and a uint32. After 0xFF a
// uint16 0xFFFE announces a wide string: its length follows in the same encoding, counted in
// UTF-16 code units of two bytes each.
class CArchiveWriter
{
  public:
    void WriteInt32(int32_t value);
    void WriteInt64(int64_t value);
    void WriteString(std::string_view text);
    // The wide form; our own files never use it, but other writers do.
    void WriteWideString(std::u16string_view text);

    const std::string& Bytes() const { return m_bytes; }

  private:
    void WriteLength(uint64_t length);
    void WriteU16(uint16_t value);
    void WriteU32(uint32_t value);

    std::string m_bytes;
};

enum class ArchiveStatus
{
    Ok,
    EndOfFile, // the data ended inside a value
    BadFormat, // a length prefix that no writer produces
};

// Reads from a byte buffer it does not own. Lengths are checked against the bytes left before
// anything is copied, so a damaged length never makes it allocate or read past the end.
class CArchiveReader
{
  public:
    explicit CArchiveReader(std::string_view bytes) : m_bytes(bytes) {}

    ArchiveStatus ReadInt32(int32_t& value);
    ArchiveStatus ReadInt64(int64_t& value);
    // Reads one string into a fixed-width text field: cut to width-1 bytes on a UTF-8
    // character boundary, zero-terminated and zero-filled. Wide strings arrive as UTF-8.
    ArchiveStatus ReadStringInto(char* field, std::size_t width);
    template <std::size_t N> ArchiveStatus ReadStringInto(char (&field)[N])
    {
        return ReadStringInto(field, N);
    }

    // Reads one string whole (wide strings as UTF-8); one of more than limit bytes is
    // BadFormat, for values that have no field to be cut to.
    ArchiveStatus ReadBoundedString(std::string& out, std::size_t limit);

    std::size_t Remaining() const { return m_bytes.size() - m_pos; }
    std::size_t Position() const { return m_pos; }

  private:
    template <class T> ArchiveStatus ReadFixed(T& value);
    ArchiveStatus ReadLength(uint64_t& length, bool& wide);
    ArchiveStatus ReadRawString(std::string_view& raw, uint64_t& length, bool& wide);
    bool Take(std::size_t count, std::string_view& out);

    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

// Appends the UTF-8 form of UTF-16LE code units (count of them at data) to out, stopping once
// out holds at least limit bytes. Unpaired surrogates become U+FFFD.
void AppendUtf16LeAsUtf8(std::string_view data, std::size_t count, std::string& out,
                         std::size_t limit);
