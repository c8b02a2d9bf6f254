// The FTP control dialogue as bytes: command lines, reply assembly and judging, the PASV reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lanvex
{

// Room for one command line, terminating zero included: transfer lines too, so any name the
// server's own line limit takes can be asked for.
constexpr size_t kFtpCommandCapacity = 1024;
// The last reply text keeps at most this many bytes.
constexpr size_t kFtpReplyTextCapacity = 80;
// A reply that grows past this without ending is cut off.
constexpr size_t kFtpMaxReplySize = 1u << 20;

enum class FtpLineResult
{
    Ok,
    ControlInArgument, // a CR, LF or zero byte would cut the line or start a second command
    TooLong,           // the line does not fit; nothing is cut
};

// Writes "VERB\n" or, with an argument, "VERB argument\n" and a terminating zero into pBuffer
// (nCapacity bytes) and sets *pLength to the line's length. Lines end in a single LF: the
// servers we talk to accept it and callers' transcripts rely on it.
FtpLineResult BuildFtpCommandLine(std::string_view verb, std::optional<std::string_view> argument,
                                  char* pBuffer, size_t nCapacity, size_t* pLength);

// One complete reply: its whole bytes, line ends included (multi-line replies in full).
struct FtpReply
{
    std::string Bytes;

    // The first three bytes (fewer when the reply is shorter).
    std::string Code() const { return Bytes.substr(0, 3); }
    // The bytes from the fifth on, at most kFtpReplyTextCapacity, never splitting a UTF-8
    // character; line ends within that stay.
    std::string Text() const;
    // A reply starts with three digits and a blank or a dash; anything else on the control
    // connection is a protocol error, never a reply to judge.
    bool IsWellFormed() const
    {
        return Bytes.size() >= 4 && IsDigit(Bytes[0]) && IsDigit(Bytes[1]) && IsDigit(Bytes[2]) &&
               (Bytes[3] == ' ' || Bytes[3] == '-');
    }
    // 4xx and 5xx are refusals; everything else (1, 2, 3, anything odd) is not.
    bool IsRefusal() const { return !Bytes.empty() && (Bytes[0] == '4' || Bytes[0] == '5'); }
    bool IsPreliminary() const { return IsWellFormed() && Bytes[0] == '1'; }
    bool IsCompletion() const { return IsWellFormed() && Bytes[0] == '2'; }

  private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
};

// Assembles replies from the control connection's bytes as they arrive, in any segmenting. Lines
// end in CR LF or a bare LF. A line "ddd-..." opens a multi-line reply that runs to the first line
// beginning with "ddd " (or "ddd" and its line end); any other line is a reply by itself. Bytes
// after a complete reply stay for the next one.
class CFtpReplyReader
{
  public:
    enum class Status
    {
        Incomplete, // feed more bytes
        Complete,   // *pReply holds the next reply
        Overflow,   // the pending reply grew past the bound; the reader is unusable until Reset
    };

    explicit CFtpReplyReader(size_t nMaxReply = kFtpMaxReplySize) : m_nMaxReply(nMaxReply) {}

    void Append(const char* pData, size_t nLength);
    Status Next(FtpReply* pReply);
    void Reset();
    size_t Buffered() const { return m_buffer.size() - m_nStart; }

  private:
    std::string m_buffer;
    size_t m_nStart = 0; // first byte of the pending reply
    size_t m_nScan = 0;  // lines before this offset (from m_nStart) are known not to end it
    size_t m_nMaxReply;
};

// Reads the data port from a whole PASV reply: the first six decimal numbers of 0 to 255 in a
// row, separated by commas (blanks around them allowed), wherever they stand in the text;
// port = fifth * 256 + sixth (read back through the 16-bit property as a signed number). No
// value when there are no such six numbers: the reply then names no port at all.
std::optional<int16_t> ReadPassivePort(std::string_view reply);

} // namespace lanvex
