// The file-system calls of an SFTP session: listings, downloads with several reads in flight,
// uploads, and the one-step calls (delete, remove, create, rename), each armed with its deadline.
#include "lanvex/ftp/sftp_session.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <string>
#include <vector>

namespace lanvex
{

bool CSftpSession::List(const std::string& path, std::vector<Entry>* pEntries, size_t nMaxEntries)
{
    m_failure.clear();
    pEntries->clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    const std::string target = path.empty() ? "." : path;
    Arm();
    sftp_dir dir = sftp_opendir(m_sftp, target.c_str());
    if (dir == nullptr)
        return FailCall("Listing", target);
    bool bOk = true;
    for (;;)
    {
        Arm();
        sftp_attributes attributes = sftp_readdir(m_sftp, dir);
        if (attributes == nullptr)
            break;
        const std::string name = attributes->name != nullptr ? attributes->name : "";
        if (name != "." && name != "..")
        {
            if (pEntries->size() >= nMaxEntries)
            {
                sftp_attributes_free(attributes);
                bOk = Fail(target + " holds more than " + std::to_string(nMaxEntries) + " entries");
                break;
            }
            Entry entry;
            entry.Name = name;
            entry.Size = static_cast<int64_t>(std::min<uint64_t>(attributes->size, INT64_MAX));
            entry.IsDirectory = attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
            pEntries->push_back(std::move(entry));
        }
        sftp_attributes_free(attributes);
    }
    if (bOk && !sftp_dir_eof(dir))
        bOk = FailCall("Listing", target);
    if (m_sftp != nullptr)
        sftp_closedir(dir);
    if (!bOk)
        pEntries->clear();
    return bOk;
}

bool CSftpSession::IsDirectory(const std::string& path)
{
    m_failure.clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    sftp_attributes attributes = sftp_stat(m_sftp, path.c_str());
    if (attributes == nullptr)
        return FailCall("Changing to", path);
    const bool bDirectory = attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
    sftp_attributes_free(attributes);
    return bDirectory ? true : Fail(path + " is not a directory");
}

bool CSftpSession::Download(const std::string& remote, const std::function<FILE*()>& openLocal,
                            int64_t nLimit, int64_t* pBytes)
{
    m_failure.clear();
    *pBytes = 0;
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    sftp_file file = sftp_open(m_sftp, remote.c_str(), O_RDONLY, 0);
    if (file == nullptr)
        return FailCall("Reading", remote);
    // The whole transfer: three waits for the replies around it, and the size at the floor rate.
    const int64_t nSeconds =
        std::min<int64_t>(nLimit / std::max<int64_t>(m_nFloorRate, 1), int64_t{1} << 30);
    m_transferEnd = Clock::now() + 3 * m_wait + std::chrono::seconds(nSeconds + 1);
    struct CEnd
    {
        Clock::time_point& End;
        ~CEnd() { End = Clock::time_point::max(); }
    } end{m_transferEnd};
    FILE* pLocal = openLocal();
    if (pLocal == nullptr)
    {
        Arm();
        sftp_close(file);
        return Fail("The local file could not be created");
    }
    // Several reads in flight, answered in order: the link stays full however far the server.
    std::vector<char> block(kReadBlock);
    std::deque<int> pending;
    bool bEnd = false, bShort = false, bOk = true;
    while (bOk)
    {
        while (!bEnd && pending.size() < static_cast<size_t>(kReadsAhead))
        {
            const int id = sftp_async_read_begin(file, kReadBlock);
            if (id < 0)
                break;
            pending.push_back(id);
        }
        if (pending.empty())
        {
            bOk = bEnd || FailCall("Reading", remote);
            break;
        }
        Arm();
        const int nRead =
            sftp_async_read(file, block.data(), kReadBlock, static_cast<uint32_t>(pending.front()));
        pending.pop_front();
        if (nRead < 0)
            bOk = FailCall("Reading", remote);
        else if (nRead == 0)
            bEnd = true; // the answers still in flight are read and dropped
        else if (bEnd || bShort)
            // Data after a short block would land at the wrong offset.
            bOk = Fail("Reading " + remote + ": the server answered a read short before the end");
        else
        {
            bShort = nRead < static_cast<int>(kReadBlock);
            *pBytes += nRead;
            if (*pBytes > nLimit)
                bOk =
                    Fail("Reading " + remote + ": more than " + std::to_string(nLimit) + " bytes");
            else if (std::fwrite(block.data(), 1, static_cast<size_t>(nRead), pLocal) !=
                     static_cast<size_t>(nRead))
                bOk = Fail("The local file could not be written");
            else if (m_progress)
                m_progress(*pBytes);
        }
    }
    if (m_sftp != nullptr)
    {
        Arm();
        sftp_close(file); // answers still in flight are dropped with the handle
    }
    return bOk;
}

bool CSftpSession::Upload(FILE* pLocal, const std::string& remote)
{
    m_failure.clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    sftp_file file = sftp_open(m_sftp, remote.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file == nullptr)
        return FailCall("Writing", remote);
    std::vector<char> block(kWriteBlock);
    bool bOk = true;
    for (;;)
    {
        const size_t nRead = std::fread(block.data(), 1, block.size(), pLocal);
        if (nRead > 0)
        {
            Arm();
            if (sftp_write(file, block.data(), nRead) != static_cast<ssize_t>(nRead))
            {
                bOk = FailCall("Writing", remote);
                break;
            }
        }
        if (nRead < block.size())
        {
            if (std::ferror(pLocal))
                bOk = Fail("The local file could not be read");
            break;
        }
    }
    if (m_sftp == nullptr)
        return false;
    Arm();
    // The close is the server's word that everything is written.
    if (sftp_close(file) != SSH_NO_ERROR && bOk)
        bOk = FailCall("Writing", remote);
    return bOk;
}

bool CSftpSession::Remove(const std::string& path)
{
    m_failure.clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    return sftp_unlink(m_sftp, path.c_str()) == 0 || FailCall("Deleting", path);
}

bool CSftpSession::RemoveDirectory(const std::string& path)
{
    m_failure.clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    return sftp_rmdir(m_sftp, path.c_str()) == 0 || FailCall("Removing", path);
}

bool CSftpSession::MakeDirectory(const std::string& path)
{
    m_failure.clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    return sftp_mkdir(m_sftp, path.c_str(), 0755) == 0 || FailCall("Creating", path);
}

bool CSftpSession::Rename(const std::string& from, const std::string& to)
{
    m_failure.clear();
    if (m_sftp == nullptr)
        return Fail("Not connected");
    Arm();
    return sftp_rename(m_sftp, from.c_str(), to.c_str()) == 0 || FailCall("Renaming", from);
}

} // namespace lanvex
