// How far a file operation has come: the status the run updates and the dialog reads, its
// cancel signal, and the progress text shown.
#include "lanvex/ftp/shell_file_dialog.h"
#include "lanvex/ftp/shell_file_execute.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lanvex
{

CFileOperationStatus::CFileOperationStatus() : m_cancelFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

CFileOperationStatus::~CFileOperationStatus()
{
    if (m_cancelFd >= 0)
        ::close(m_cancelFd);
}

void CFileOperationStatus::Found(int64_t nFiles)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now.Found += nFiles;
}

void CFileOperationStatus::BeginFile(const std::string& path, int64_t nSize)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nEarlierBytes += m_now.Bytes;
    m_now.Path = path;
    m_now.Done += 1;
    m_now.Found = std::max(m_now.Found, m_now.Done);
    m_now.Bytes = 0;
    m_now.Size = nSize;
    m_now.AllBytes = m_nEarlierBytes;
}

void CFileOperationStatus::BeginDirectory(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now.Path = path;
}

void CFileOperationStatus::Moved(int64_t nBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now.Bytes = nBytes;
    m_now.AllBytes = m_nEarlierBytes + nBytes;
}

CFileOperationStatus::Snapshot CFileOperationStatus::Read() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Snapshot now = m_now;
    now.Cancelled = IsCancelled();
    return now;
}

void CFileOperationStatus::Cancel()
{
    const uint64_t one = 1;
    if (m_cancelFd >= 0)
        (void)!::write(m_cancelFd, &one, sizeof one);
}

bool CFileOperationStatus::IsCancelled() const
{
    pollfd pfd{m_cancelFd, POLLIN, 0};
    return m_cancelFd >= 0 && ::poll(&pfd, 1, 0) > 0;
}

namespace
{

std::string FormatBytes(double nBytes)
{
    const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    int nUnit = 0;
    while (nBytes >= 1024 && nUnit < 4)
    {
        nBytes /= 1024;
        ++nUnit;
    }
    char text[32];
    std::snprintf(text, sizeof text, nUnit == 0 ? "%.0f %s" : "%.1f %s", nBytes, units[nUnit]);
    return text;
}

} // namespace

FileOperationProgressText DescribeProgress(const FileOperationProgressSnapshot& now)
{
    FileOperationProgressText text;
    text.Label = now.Path + "\n" + std::to_string(now.Done) + " of " +
                 std::to_string(std::max(now.Found, now.Done)) + " files\n" +
                 FormatBytes(static_cast<double>(now.Bytes)) +
                 (now.Size >= 0 ? " of " + FormatBytes(static_cast<double>(now.Size)) : "") + ", " +
                 FormatBytes(now.BytesPerSecond) + "/s";
    if (now.Size > 0)
        text.Permille = static_cast<int>(std::min<int64_t>(now.Bytes, now.Size) * 1000 / now.Size);
    else if (now.Size == 0)
        text.Permille = 1000;
    return text;
}

} // namespace lanvex
