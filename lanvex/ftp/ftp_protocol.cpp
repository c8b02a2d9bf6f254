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
    if (argument &&
        argument->find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
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

std::optional<int16_t> ReadPassivePort(std::string_view reply)
{
    // The code's own digits end in a blank, not a comma, so they never start a match.
    for (size_t nStart = 0; nStart < reply.size(); ++nStart)
    {
        if (!IsDigit(reply[nStart]) || (nStart > 0 && IsDigit(reply[nStart - 1])))
            continue;
        unsigned numbers[6] = {};
        size_t nPos = nStart;
        int nRead = 0;
        for (; nRead < 6; ++nRead)
        {
            if (nRead > 0)
            {
                while (nPos < reply.size() && reply[nPos] == ' ')
                    ++nPos;
                if (nPos >= reply.size() || reply[nPos] != ',')
                    break;
                ++nPos;
                while (nPos < reply.size() && reply[nPos] == ' ')
                    ++nPos;
            }
            size_t nDigits = 0;
            unsigned value = 0;
            while (nPos < reply.size() && IsDigit(reply[nPos]) && nDigits < 4)
            {
                value = value * 10 + static_cast<unsigned>(reply[nPos++] - '0');
                ++nDigits;
            }
            if (nDigits == 0 || nDigits > 3 || value > 255)
                break;
            numbers[nRead] = value;
        }
        if (nRead == 6 && (nPos >= reply.size() || !IsDigit(reply[nPos])))
            return static_cast<int16_t>(static_cast<uint16_t>(numbers[4] * 256u + numbers[5]));
    }
    return std::nullopt;
}

} // namespace lanvex
