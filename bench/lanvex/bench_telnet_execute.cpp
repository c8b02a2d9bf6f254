// Execute of a command with a 2 MB reply that a loopback host sends at once: the time from the
// host's last byte to Execute's return should be the closing second of silence and little more.
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/telnet_session.h"

#include "platform/com/bstr.h"

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

// A host that logs anybody in and answers every line with the reply, sent in one go.
class CBulkHost
{
  public:
    explicit CBulkHost(std::string reply) : m_reply(std::move(reply))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nSize = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), nSize);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &nSize);
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CBulkHost()
    {
        m_thread.join();
        ::close(m_listener);
    }
    int Port() const { return m_nPort; }
    Clock::time_point LastByteSent() const { return m_lastByte.load(); }

  private:
    bool WaitLine(int fd)
    {
        char c;
        for (;;)
        {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 30000) != 1 || ::recv(fd, &c, 1, 0) != 1)
                return false;
            if (c == '\n')
                return true;
        }
    }
    void SendAll(int fd, const std::string& text)
    {
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
    void Serve()
    {
        const int fd = ::accept(m_listener, nullptr, nullptr);
        SendAll(fd, "\xff\xfd\x01");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SendAll(fd, "\xff\xfb\x03");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SendAll(fd, "login: ");
        WaitLine(fd);
        SendAll(fd, "Password: ");
        WaitLine(fd);
        SendAll(fd, "$ ");
        while (WaitLine(fd))
        {
            SendAll(fd, m_reply);
            m_lastByte.store(Clock::now());
        }
        ::close(fd);
    }

    std::string m_reply;
    int m_listener = -1;
    int m_nPort = 0;
    std::atomic<Clock::time_point> m_lastByte{};
    std::thread m_thread;
};

void BM_ExecuteLargeReply(benchmark::State& state)
{
    const size_t nReply = static_cast<size_t>(state.range(0));
    std::string reply(nReply - 4, 'p');
    for (size_t i = 79; i < reply.size(); i += 80)
        reply[i] = '\n';
    reply += "\r\n$ ";
    CBulkHost host(reply);
    {
        void* pv = nullptr;
        lanvex::CreateComponent<lanvex::lvTelnet>(nullptr, IID_IlvTelnet2, &pv);
        IlvTelnet2* pTelnet = static_cast<IlvTelnet2*>(pv);
        CComBSTR address(u"127.0.0.1"), user(u"u"), command(u"ps auxw");
        pTelnet->put_Address(address);
        pTelnet->put_Username(user);
        pTelnet->put_Password(user);
        pTelnet->put_Port(static_cast<SHORT>(host.Port()));
        if (pTelnet->Connect() != S_OK)
        {
            state.SkipWithError("login to the loopback host failed");
            pTelnet->Release();
            return;
        }
        double dAfterLastMs = 0;
        for (auto _ : state)
        {
            const HRESULT hr = pTelnet->Execute(command);
            const auto done = Clock::now();
            LONG nSize = 0;
            pTelnet->GetOutputSize(&nSize);
            if (hr != S_OK || static_cast<size_t>(nSize) != nReply)
                state.SkipWithError("reply incomplete");
            dAfterLastMs +=
                std::chrono::duration<double, std::milli>(done - host.LastByteSent()).count();
        }
        state.counters["ms_after_last_byte"] =
            benchmark::Counter(dAfterLastMs / static_cast<double>(state.iterations()));
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * nReply));
        pTelnet->Disconnect();
        pTelnet->Release();
    }
}
BENCHMARK(BM_ExecuteLargeReply)
    ->Arg(64 * 1024)
    ->Arg(2 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// For comparison: growing a block to the exact size per 200-byte chunk, as a quadratic
// collector would, against the amortised growth the transport uses.
void BM_ExactGrowth(benchmark::State& state)
{
    const size_t nTotal = static_cast<size_t>(state.range(0));
    char chunk[200];
    std::memset(chunk, 'c', sizeof chunk);
    for (auto _ : state)
    {
        char* pBlock = nullptr;
        size_t nHave = 0;
        while (nHave < nTotal)
        {
            char* pNew = new char[nHave + sizeof chunk];
            if (pBlock != nullptr)
                std::memcpy(pNew, pBlock, nHave);
            std::memcpy(pNew + nHave, chunk, sizeof chunk);
            delete[] pBlock;
            pBlock = pNew;
            nHave += sizeof chunk;
        }
        benchmark::DoNotOptimize(pBlock);
        delete[] pBlock;
    }
}
BENCHMARK(BM_ExactGrowth)->Arg(2 * 1024 * 1024)->Unit(benchmark::kMillisecond);

void BM_AmortisedGrowth(benchmark::State& state)
{
    const size_t nTotal = static_cast<size_t>(state.range(0));
    char chunk[200];
    std::memset(chunk, 'c', sizeof chunk);
    for (auto _ : state)
    {
        std::vector<char> block;
        while (block.size() < nTotal)
            block.insert(block.end(), chunk, chunk + sizeof chunk);
        benchmark::DoNotOptimize(block.data());
    }
}
BENCHMARK(BM_AmortisedGrowth)->Arg(2 * 1024 * 1024)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
