// A file operation's saved directory listing, read back one entry at a time; only the run
// includes it.
#pragma once

#include "lanvex/ftp/ftp_listing.h"
#include "lanvex/ftp/shell_file_execute.h"

#include <cstdio>
#include <string>
#include <vector>

namespace lanvex
{

// A listing saved on disk, read back one entry at a time. A line is read only up to a bound
// (no name is that long); a longer one is a failure, never a cut name that could be another
// file's.
class CFileOperationRun::CListing
{
  public:
    static constexpr size_t kMaxLine = 16384;
    enum class Next
    {
        Entry,
        End,
        TooLong
    };

    explicit CListing(const std::string& path) : m_pFile(std::fopen(path.c_str(), "rb")) {}
    ~CListing()
    {
        if (m_pFile != nullptr)
            std::fclose(m_pFile);
    }
    CListing(const CListing&) = delete;
    CListing& operator=(const CListing&) = delete;

    bool IsOpen() const { return m_pFile != nullptr; }
    void Rewind() { std::rewind(m_pFile); }

    Next Read(Entry* pEntry)
    {
        for (;;)
        {
            bool bTooLong = false;
            if (!ReadLine(&bTooLong))
                return Next::End;
            if (bTooLong)
                return Next::TooLong;
            m_parsed.clear();
            ParseFtpListing(m_line, false, &m_parsed, 1);
            if (m_parsed.empty() || !IsPlainEntryName(m_parsed[0].FullName))
                continue; // "total", an empty line, a name that is no plain file name
            pEntry->Name = m_parsed[0].FullName;
            pEntry->Size = m_parsed[0].HasSize ? m_parsed[0].FullSize : -1;
            pEntry->IsDirectory = m_parsed[0].IsDirectory;
            return Next::Entry;
        }
    }

  private:
    bool ReadLine(bool* pbTooLong)
    {
        m_line.clear();
        int c = 0;
        bool bAny = false;
        while ((c = std::getc(m_pFile)) != EOF)
        {
            bAny = true;
            if (c == '\n')
                break;
            if (m_line.size() < kMaxLine)
                m_line.push_back(static_cast<char>(c));
            else
                *pbTooLong = true;
        }
        return bAny;
    }

    FILE* m_pFile;
    std::string m_line;
    std::vector<FtpFileEntry> m_parsed;
};

} // namespace lanvex
