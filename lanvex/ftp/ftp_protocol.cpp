// The FTP control dialogue as bytes: command lines, reply assembly and judging, the PASV reply.
#include "lanvex/ftp/ftp_protocol.h"

#include <cstring>

namespace lanvex
{

namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes that may be cut before: not a UTF-8 continuation byte.
size_t CharBoundaryAtOrBefore(std::string_view text, size_t nPos)
{
    while (nPos > 0 && nPos < text.size() &&
           (static_cast<unsigned char>(text[nPos]) & 0xC0) == 0x80)
        --nPos;
    return nPos;
}

} // namespace

FtpLineResult BuildFtpCommandLine(std::string_view verb, std::optional<std::string_view> argument,
                                  char* pBuffer, size_t nCapacity, size_t* pLength)
{
    if (argument && argument->find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return FtpLineResult::ControlInArgument;
    const size_t nLength = verb.size() + (argument ? 1 + argument->size() : 0) + 1;
    if (nLength + 1 > nCapacity)
        return FtpLineResult::TooLong;
    char* p = pBuffer;
    std::memcpy(p, verb.data(), verb.size());
    p += verb.size();
    if (argument)
    {
        *p++ = ' ';
        if (!argument->empty())
            std::memcpy(p, argument->data(), argument->size());
        p += argument->size();
    }
    *p++ = '\n';
    *p = '\0';
    *pLength = nLength;
    return FtpLineResult::Ok;
}

std::string FtpReply::Text() const
{
    if (Bytes.size() <= 4)
        return std::string();
    const std::string_view rest = std::string_view(Bytes).substr(4);
    if (rest.size() <= kFtpReplyTextCapacity)
        return std::string(rest);
    return std::string(rest.substr(0, CharBoundaryAtOrBefore(rest, kFtpReplyTextCapacity)));
}

void CFtpReplyReader::Append(const char* pData, size_t nLength)
{
    // Consumed replies are dropped before the buffer grows, so it holds one pending reply at most
    // plus what arrived behind it.
    if (m_nStart > 0 && m_nStart >= m_buffer.size() / 2)
    {
        m_buffer.erase(0, m_nStart);
        m_nStart = 0;
    }
    m_buffer.append(pData, nLength);
}

void CFtpReplyReader::Reset()
{
    m_buffer.clear();
    m_nStart = 0;
    m_nScan = 0;
}

CFtpReplyReader::Status CFtpReplyReader::Next(FtpReply* pReply)
{
    const std::string_view pending = std::string_view(m_buffer).substr(m_nStart);
    const size_t nFirstEnd = pending.find('\n');
    if (nFirstEnd == std::string_view::npos)
        return pending.size() > m_nMaxReply ? Status::Overflow : Status::Incomplete;

    size_t nEnd = nFirstEnd + 1; // one past the reply's last byte
    const bool bMultiLine = pending.size() >= 4 && IsDigit(pending[0]) && IsDigit(pending[1]) &&
                            IsDigit(pending[2]) && pending[3] == '-';
    if (bMultiLine)
    {
        const std::string_view code = pending.substr(0, 3);
        size_t nLine = m_nScan > nEnd ? m_nScan : nEnd;
        for (;;)
        {
            const size_t nLineEnd = pending.find('\n', nLine);
            if (nLineEnd == std::string_view::npos)
            {
                // Lines before nLine are complete and did not end the reply; start there next time.
                m_nScan = nLine;
                return pending.size() > m_nMaxReply ? Status::Overflow : Status::Incomplete;
            }
            const std::string_view line = pending.substr(nLine, nLineEnd - nLine);
            if (line.size() >= 3 && line.substr(0, 3) == code &&
                (line.size() == 3 || line[3] == ' ' || line[3] == '\r'))
            {
                nEnd = nLineEnd + 1;
                break;
            }
            nLine = nLineEnd + 1;
            if (nLine > m_nMaxReply)
                return Status::Overflow;
        }
    }
    if (nEnd > m_nMaxReply)
        return Status::Overflow;
    pReply->Bytes.assign(pending.substr(0, nEnd));
    m_nStart += nEnd;
    m_nScan = 0;
    return Status::Complete;
}

std::optional<int16_t> ReadPassivePort(std::string_view text)
{
    // The numbers are read from the last '(' to ')', the end, or the first zero byte; commas
    // separate them like blanks. Only the part before the first LF is looked at for '(' and ')'.
    size_t nScanEnd = text.find_first_of(std::string_view("\n\0", 2));
    if (nScanEnd == std::string_view::npos)
        nScanEnd = text.size();
    const size_t nOpen = text.substr(0, nScanEnd).rfind('(');
    if (nOpen == std::string_view::npos || nOpen == 0)
        return std::nullopt;
    size_t nStop = text.find(')', nOpen);
    if (nStop == std::string_view::npos || nStop > nScanEnd)
    {
        // Beyond the first LF the reading goes on to the next zero byte, commas unchanged.
        nStop = text.find('\0', nOpen);
        if (nStop == std::string_view::npos)
            nStop = text.size();
    }

    uint32_t numbers[6] = {};
    size_t nPos = nOpen + 1;
    for (uint32_t& number : numbers)
    {
        // A separator is blanks or (before the first LF) commas; a number is an optional sign and
        // at least one digit.
        while (nPos < nStop && (IsSpace(text[nPos]) || (text[nPos] == ',' && nPos < nScanEnd)))
            ++nPos;
        bool bNegative = false;
        if (nPos < nStop && (text[nPos] == '-' || text[nPos] == '+'))
            bNegative = text[nPos++] == '-';
        if (nPos >= nStop || !IsDigit(text[nPos]))
            return std::nullopt;
        uint32_t value = 0;
        while (nPos < nStop && IsDigit(text[nPos]))
            value = value * 10u + static_cast<uint32_t>(text[nPos++] - '0');
        number = bNegative ? 0u - value : value;
        // Between two numbers the separator must be there: "1 2" reads, "1x2" stops.
        if (nPos < nStop && !IsSpace(text[nPos]) && !(text[nPos] == ',' && nPos < nScanEnd) &&
            &number != &numbers[5])
            return std::nullopt;
    }
    return static_cast<int16_t>(static_cast<uint16_t>((numbers[4] * 256u + numbers[5]) & 0xFFFFu));
}

} // namespace lanvex
