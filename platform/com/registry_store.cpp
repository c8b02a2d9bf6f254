// The hive file: path from the environment, cached reads, atomic rewrites under flock on a side
// file.
#include "platform/com/registry_store.h"

#include "platform/com/hresult.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// What was last read, so repeated lookups (every activation) do not reparse an unchanged file.
// A rewrite always makes a new file (rename), so a changed file differs in inode or time or size.
struct CachedHive
{
    std::string Path;
    dev_t Dev = 0;
    ino_t Ino = 0;
    off_t Size = 0;
    struct timespec Mtime = {};
    std::shared_ptr<const CRegistryHive> Hive;
};
std::mutex g_cacheLock;
CachedHive g_cache;

struct Transaction
{
    int Depth = 0;
    int LockFd = -1;
    std::string Path;
    std::unique_ptr<CRegistryHive> Hive;
    bool Changed = false;
    bool Doomed = false;
};
thread_local Transaction t_txn;

// Failed attempts to change the hive file, for callers that must not trust a server's own answer.
std::atomic<unsigned long> g_writeFailures{0};

LONG WriteFailure(LONG rc)
{
    ++g_writeFailures;
    return rc;
}

std::string Describe(const std::string& path, const std::string& what)
{
    return "registry hive " + path + ": " + what;
}

bool MakeDirectories(const std::string& dir)
{
    if (dir.empty())
        return true;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash)))
        return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write must replace: a symbolic link is followed (its target gets the new text, the
// link stays), up to a bound that stops a loop; a dangling link names the file to create.
std::string WriteTarget(const std::string& path)
{
    std::string target = path;
    for (int hop = 0; hop < 40; ++hop)
    {
        char link[4096];
        ssize_t n = readlink(target.c_str(), link, sizeof link - 1);
        if (n < 0)
            return target; // not a link (or missing): the file itself
        std::string next(link, static_cast<size_t>(n));
        target = next[0] == '/' ? next : DirectoryOf(target) + "/" + next;
    }
    return target;
}

// Reads and parses the hive file; a missing file is an empty hive.
LONG Load(const std::string& path, std::shared_ptr<const CRegistryHive>* out)
{
    // Non-blocking, so a FIFO in the hive's place is refused below instead of waited on.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
    {
        if (errno == ENOENT)
        {
            *out = std::make_shared<CRegistryHive>();
            return ERROR_SUCCESS;
        }
        ComrtSetLastErrorText(Describe(path, std::string("cannot open: ") + std::strerror(errno)));
        return ERROR_CANTREAD;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        ComrtSetLastErrorText(Describe(path, "not a regular file"));
        close(fd);
        return ERROR_CANTREAD;
    }
    {
        std::lock_guard<std::mutex> guard(g_cacheLock);
        if (g_cache.Hive && g_cache.Path == path && g_cache.Dev == st.st_dev &&
            g_cache.Ino == st.st_ino && g_cache.Size == st.st_size &&
            g_cache.Mtime.tv_sec == st.st_mtim.tv_sec &&
            g_cache.Mtime.tv_nsec == st.st_mtim.tv_nsec)
        {
            *out = g_cache.Hive;
            close(fd);
            return ERROR_SUCCESS;
        }
    }
    std::string text;
    char buffer[65536];
    for (;;)
    {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            ComrtSetLastErrorText(
                Describe(path, std::string("cannot read: ") + std::strerror(errno)));
            close(fd);
            return ERROR_CANTREAD;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    auto hive = std::make_shared<CRegistryHive>();
    std::string error;
    if (!CRegistryHive::Parse(text, hive.get(), &error))
    {
        ComrtSetLastErrorText(Describe(path, error + " (the file is damaged; it is left as it is "
                                                     "until it is repaired or removed)"));
        return ERROR_REGISTRY_CORRUPT;
    }
    std::lock_guard<std::mutex> guard(g_cacheLock);
    g_cache = CachedHive{path, st.st_dev, st.st_ino, st.st_size, st.st_mtim, hive};
    *out = hive;
    return ERROR_SUCCESS;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary file in the same directory, flushed, then renamed over the hive: readers see the old
// file or the new one, never a part.
LONG Save(const std::string& path, const CRegistryHive& hive)
{
    static std::atomic<unsigned> counter{0};
    std::string temp = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
    {
        ComrtSetLastErrorText(Describe(path, std::string("cannot write: ") + std::strerror(errno)));
        return ERROR_CANTWRITE;
    }
    // An existing hive keeps its owner and permissions (someone may share it on purpose); a new
    // one is private to its owner. Only a privileged writer can give the file to another owner;
    // anyone else writes it as their own, as any editor would (so the result is not checked).
    struct stat old;
    const bool existing = stat(path.c_str(), &old) == 0;
    if (existing && (old.st_uid != geteuid() || old.st_gid != getegid()))
        (void)!fchown(fd, old.st_uid, old.st_gid);
    if (existing && fchmod(fd, old.st_mode & 07777) != 0)
    {
        ComrtSetLastErrorText(
            Describe(path, std::string("cannot keep its mode: ") + std::strerror(errno)));
        close(fd);
        unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    std::string text = hive.Serialize();
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0)
    {
        ComrtSetLastErrorText(Describe(path, std::string("cannot write: ") + std::strerror(errno)));
        unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    int dirFd = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
    {
        fsync(dirFd);
        close(dirFd);
    }
    return ERROR_SUCCESS;
}

// The exclusive lock on "<hive>.lock"; flock excludes other processes and other open files of
// this process alike.
LONG Lock(const std::string& path, int* fd)
{
    if (!MakeDirectories(DirectoryOf(path)))
    {
        ComrtSetLastErrorText(Describe(path, "cannot create its directory"));
        return ERROR_CANTWRITE;
    }
    std::string lockPath = path + ".lock";
    *fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (*fd < 0)
    {
        ComrtSetLastErrorText(
            Describe(path, std::string("cannot open the lock file: ") + std::strerror(errno)));
        return ERROR_CANTWRITE;
    }
    // The lock file belongs with the hive: made by a privileged writer for another user's hive,
    // it is given to that user, who could not take the lock otherwise.
    struct stat hive, lock;
    if (stat(path.c_str(), &hive) == 0 && fstat(*fd, &lock) == 0 &&
        (lock.st_uid != hive.st_uid || lock.st_gid != hive.st_gid))
        (void)!fchown(*fd, hive.st_uid, hive.st_gid);
    while (flock(*fd, LOCK_EX) != 0)
    {
        if (errno != EINTR)
        {
            close(*fd);
            *fd = -1;
            return ERROR_LOCK_VIOLATION;
        }
    }
    return ERROR_SUCCESS;
}

void Unlock(int fd)
{
    if (fd >= 0)
    {
        flock(fd, LOCK_UN);
        close(fd);
    }
}

// The hive a write starts from, with the lock on it held.
struct LockedHive
{
    std::string Path;
    int LockFd = -1;
    std::shared_ptr<const CRegistryHive> Hive;
};

// Takes the lock, then reads the hive under it, so no other writer's change falls between the
// read and the rewrite. On a failure nothing stays locked and the failure is counted.
LONG LockAndLoad(LockedHive* out)
{
    out->Path = WriteTarget(RegistryStorePath());
    LONG rc = Lock(out->Path, &out->LockFd);
    if (rc != ERROR_SUCCESS)
        return WriteFailure(rc);
    rc = Load(out->Path, &out->Hive);
    if (rc != ERROR_SUCCESS)
    {
        Unlock(out->LockFd);
        out->LockFd = -1;
        return WriteFailure(rc);
    }
    return ERROR_SUCCESS;
}
} // namespace

std::string RegistryStorePath()
{
    if (const char* explicitPath = std::getenv("COMRT_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        base = ".";
    return base + "/comrt/registry.reg";
}

LONG RegistryStoreRead(const std::function<LONG(const CRegistryHive&)>& fn)
{
    if (t_txn.Depth > 0)
        return fn(*t_txn.Hive);
    std::shared_ptr<const CRegistryHive> hive;
    LONG rc = Load(RegistryStorePath(), &hive);
    return rc == ERROR_SUCCESS ? fn(*hive) : rc;
}

LONG RegistryStoreWrite(const std::function<LONG(CRegistryHive&, bool* changed)>& fn)
{
    if (t_txn.Depth > 0)
    {
        bool changed = false;
        LONG rc = fn(*t_txn.Hive, &changed);
        t_txn.Changed = t_txn.Changed || changed;
        return rc;
    }
    LockedHive locked;
    LONG rc = LockAndLoad(&locked);
    if (rc != ERROR_SUCCESS)
        return rc;
    CRegistryHive copy(*locked.Hive);
    bool changed = false;
    rc = fn(copy, &changed);
    if (rc == ERROR_SUCCESS && changed && (rc = Save(locked.Path, copy)) != ERROR_SUCCESS)
        WriteFailure(rc);
    Unlock(locked.LockFd);
    return rc;
}

unsigned long RegistryStoreWriteFailures()
{
    return g_writeFailures.load();
}

LONG RegistryStoreBegin()
{
    if (t_txn.Depth > 0)
    {
        ++t_txn.Depth;
        return ERROR_SUCCESS;
    }
    LockedHive locked;
    if (LONG rc = LockAndLoad(&locked); rc != ERROR_SUCCESS)
        return rc;
    t_txn.Depth = 1;
    t_txn.LockFd = locked.LockFd;
    t_txn.Path = locked.Path;
    t_txn.Hive = std::make_unique<CRegistryHive>(*locked.Hive);
    t_txn.Changed = false;
    return ERROR_SUCCESS;
}

LONG RegistryStoreCommit()
{
    if (t_txn.Depth == 0)
        return ERROR_INVALID_PARAMETER;
    if (--t_txn.Depth > 0)
        return ERROR_SUCCESS;
    LONG rc = ERROR_SUCCESS;
    if (t_txn.Doomed)
    {
        ComrtSetLastErrorText(Describe(t_txn.Path, "transaction aborted by an inner level; "
                                                   "nothing written"));
        rc = WriteFailure(ERROR_CANTWRITE);
    }
    else if (t_txn.Changed && (rc = Save(t_txn.Path, *t_txn.Hive)) != ERROR_SUCCESS)
        WriteFailure(rc);
    Unlock(t_txn.LockFd);
    t_txn = Transaction{};
    return rc;
}

void RegistryStoreAbort()
{
    if (t_txn.Depth == 0)
        return;
    // An inner abort dooms the whole transaction: the outermost Commit then writes nothing and
    // says so.
    t_txn.Doomed = true;
    if (--t_txn.Depth > 0)
        return;
    Unlock(t_txn.LockFd);
    t_txn = Transaction{};
}
