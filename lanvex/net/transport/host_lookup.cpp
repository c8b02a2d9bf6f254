// Host name lookup: glibc's asynchronous lookup, waited on in slices so a cancel ends it at once.
#include "lanvex/net/transport/host_lookup.h"

#include "lanvex/net/transport/socket_error.h"

#include <mutex>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace lanvex
{

namespace
{

using Clock = std::chrono::steady_clock;

#if !defined(__SANITIZE_THREAD__)
// One asynchronous lookup. glibc answers it on threads of its own that run only its own code
// and write only into this record, so a lookup the caller gives up on can be left to finish
// while the caller goes on.
struct CPendingLookup
{
    std::string Name;
    addrinfo Hints{};
    gaicb Request{};

    explicit CPendingLookup(std::string name) : Name(std::move(name))
    {
        Hints.ai_family = AF_INET;
        Hints.ai_socktype = SOCK_STREAM;
        Request.ar_name = Name.c_str();
        Request.ar_request = &Hints;
    }
    ~CPendingLookup()
    {
        if (Request.ar_result != nullptr)
            freeaddrinfo(Request.ar_result);
    }
};

// Lookups given up on while glibc still works on them. They stay reachable here and are freed
// by a later lookup once glibc is done with them.
std::mutex g_parkedMutex;
std::vector<CPendingLookup*> g_parked;

void ReapParkedLookups()
{
    std::lock_guard<std::mutex> lock(g_parkedMutex);
    std::erase_if(g_parked,
                  [](CPendingLookup* pLookup)
                  {
                      if (gai_error(&pLookup->Request) == EAI_INPROGRESS)
                          return false;
                      delete pLookup;
                      return true;
                  });
}

void GiveUpLookup(CPendingLookup* pLookup)
{
    // A lookup glibc has not started can be withdrawn; one under way must be left to end.
    if (gai_cancel(&pLookup->Request) != EAI_NOTCANCELED)
    {
        delete pLookup;
        return;
    }
#if defined(__SANITIZE_ADDRESS__)
    // A lookup still running when the process ends or the module unloads stays on purpose.
    __lsan_ignore_object(pLookup);
#endif
    std::lock_guard<std::mutex> lock(g_parkedMutex);
    g_parked.push_back(pLookup);
}

#endif

} // namespace

// The local machine's address: a lookup without a name needs a service to answer at all, and
// answers from the system's own tables without asking a name server.
bool ResolveLocalMachine(in_addr* pAddress)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* pResult = nullptr;
    if (getaddrinfo(nullptr, "0", &hints, &pResult) != 0 || pResult == nullptr)
        return false;
    *pAddress = reinterpret_cast<const sockaddr_in*>(pResult->ai_addr)->sin_addr;
    freeaddrinfo(pResult);
    return true;
}

bool LookUpHostName(const std::string& name, [[maybe_unused]] std::chrono::milliseconds wait,
                    std::optional<Clock::time_point> deadline, int cancelFd, in_addr* pAddress)
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer cannot follow the threads glibc starts for a lookup (they crash under it):
    // its builds look names up in place.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pResult = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &pResult) != 0 || pResult == nullptr)
        return false;
    *pAddress = reinterpret_cast<const sockaddr_in*>(pResult->ai_addr)->sin_addr;
    freeaddrinfo(pResult);
    pollfd cancel{cancelFd, POLLIN, 0};
    if (cancelFd >= 0 && ::poll(&cancel, 1, 0) > 0)
        throw CExpSocket(kWsaEIntr);
    if (deadline && Clock::now() >= *deadline)
        throw CExpSocket(kWsaETimedOut);
    return true;
#else
    ReapParkedLookups();
    auto* pLookup = new CPendingLookup(name);
    gaicb* list[1] = {&pLookup->Request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0)
    {
        delete pLookup;
        return false;
    }
    auto limit = Clock::now() + wait;
    if (deadline && *deadline < limit)
        limit = *deadline;
    for (;;)
    {
        // The caller's stop comes first: a lookup that has just ended does not outweigh it.
        pollfd cancel{cancelFd, POLLIN, 0};
        const bool bCancelled = cancelFd >= 0 && ::poll(&cancel, 1, 0) > 0;
        if (bCancelled || Clock::now() >= limit)
        {
            GiveUpLookup(pLookup);
            throw CExpSocket(bCancelled ? kWsaEIntr : kWsaETimedOut);
        }
        const int nState = gai_error(&pLookup->Request);
        if (nState != EAI_INPROGRESS)
        {
            const bool bFound = nState == 0 && pLookup->Request.ar_result != nullptr;
            if (bFound)
                *pAddress =
                    reinterpret_cast<const sockaddr_in*>(pLookup->Request.ar_result->ai_addr)
                        ->sin_addr;
            delete pLookup;
            return bFound;
        }
        const timespec slice{0, 50 * 1000 * 1000};
        gai_suspend(list, 1, &slice);
    }
#endif
}

} // namespace lanvex
