// A directory listing as the server sends it, read into file entries.
#include "lanvex/ftp/ftp_listing.h"

#include "platform/com/ascii.h"

#include <algorithm>
#include <cstring>

namespace lanvex
{

namespace
{

size_t LineEnd(std::string_view text, size_t nPos)
{
    while (nPos < text.size() && text[nPos] != '\n' && text[nPos] != '\r')
        ++nPos;
    return nPos;
}

template <size_t N> void StoreCut(char (&field)[N], std::string_view word)
{
    size_t n = word.size() < N - 1 ? word.size() : N - 1;
    // Never leave half a UTF-8 character at the end.
    if (n < word.size())
        while (n > 0 && (static_cast<unsigned char>(word[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(field, word.data(), n);
    field[n] = '\0';
}

// Reads a line word by word the way the listing's fields are laid out.
class CLineScanner
{
  public:
    explicit CLineScanner(std::string_view line) : m_line(line) {}

    bool Word(std::string_view* pWord)
    {
        SkipSpace();
        const size_t nStart = m_nPos;
        while (m_nPos < m_line.size() && !IsAsciiSpace(m_line[m_nPos]))
            ++m_nPos;
        *pWord = m_line.substr(nStart, m_nPos - nStart);
        return !pWord->empty();
    }

    // An optional sign and at least one digit; what follows the digits stays for the next field.
    bool Number(int64_t* pValue)
    {
        SkipSpace();
        size_t nPos = m_nPos;
        bool bNegative = false;
        if (nPos < m_line.size() && (m_line[nPos] == '-' || m_line[nPos] == '+'))
            bNegative = m_line[nPos++] == '-';
        if (nPos >= m_line.size() || m_line[nPos] < '0' || m_line[nPos] > '9')
            return false;
        uint64_t value = 0;
        for (; nPos < m_line.size() && m_line[nPos] >= '0' && m_line[nPos] <= '9'; ++nPos)
            value = value < (uint64_t{1} << 59)
                        ? value * 10 + static_cast<uint64_t>(m_line[nPos] - '0')
                        : value; // saturates far beyond any file size
        m_nPos = nPos;
        *pValue = bNegative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
        return true;
    }

    // Steps over the one blank that separates two columns; where the next column starts.
    size_t SkipOneBlank()
    {
        if (m_nPos < m_line.size() && m_line[m_nPos] == ' ')
            ++m_nPos;
        return m_nPos;
    }

  private:
    void SkipSpace()
    {
        while (m_nPos < m_line.size() && IsAsciiSpace(m_line[m_nPos]))
            ++m_nPos;
    }

    std::string_view m_line;
    size_t m_nPos = 0;
};

void ParseLongLine(std::string_view line, FtpFileEntry* pEntry)
{
    CLineScanner scan(line);
    std::string_view word;
    int64_t number = 0;
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->Permissions, word);
    pEntry->IsDirectory = word[0] == 'd';
    if (!scan.Number(&number))
        return;
    pEntry->Links = static_cast<int32_t>(static_cast<uint32_t>(number));
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->Owner, word);
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->Group, word);
    if (!scan.Number(&number))
        return;
    pEntry->Size = static_cast<int32_t>(static_cast<uint32_t>(number));
    pEntry->FullSize = number;
    pEntry->HasSize = true;
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->Month, word);
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->Day, word);
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->TimeOrYear, word);
    // The name is the column after one blank: blanks it starts with are its own.
    const size_t nNameStart = scan.SkipOneBlank();
    if (!scan.Word(&word))
        return;
    StoreCut(pEntry->Name, word);
    // The full name runs to the line's end; a link shows "name -> target".
    std::string_view full = line.substr(nNameStart);
    if (pEntry->Permissions[0] == 'l')
    {
        const size_t nArrow = full.find(" -> ");
        if (nArrow != std::string_view::npos)
            full = full.substr(0, nArrow);
    }
    pEntry->FullName.assign(full);
}

void ParseNameLine(std::string_view line, FtpFileEntry* pEntry)
{
    CLineScanner scan(line);
    std::string_view word;
    if (scan.Word(&word))
        StoreCut(pEntry->Name, word);
    pEntry->FullName.assign(line);
}

} // namespace

bool ParseFtpListing(std::string_view text, bool bNamesOnly, std::vector<FtpFileEntry>* pEntries,
                     size_t nMaxEntries)
{
    // One allocation for the whole list: the line count is cheap next to moving entries around.
    const size_t nLines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    pEntries->reserve(pEntries->size() + std::min(nLines, nMaxEntries));
    size_t nPos = 0;
    for (size_t nCount = 0; nPos < text.size(); ++nCount)
    {
        if (nCount == nMaxEntries)
            return false;
        const size_t nEnd = LineEnd(text, nPos);
        size_t nNext;
        if (nEnd == text.size())
            nNext = nEnd;
        else if (text[nEnd] == '\r' && nEnd + 1 < text.size() && text[nEnd + 1] == '\n')
            nNext = nEnd + 2;
        else
            nNext = nEnd + 1;
        const std::string_view line = text.substr(nPos, nEnd - nPos);
        FtpFileEntry& entry = pEntries->emplace_back();
        if (bNamesOnly)
            ParseNameLine(line, &entry);
        else
            ParseLongLine(line, &entry);
        nPos = nNext;
    }
    return true;
}

} // namespace lanvex
