// One refresh of `ps auxw` on an already open connection, over SSH and over telnet, against the
// real servers scripts/peers starts: SSH ends when the command does, telnet after its silence.
#include "lanvex/net/component_object.h"
#include "lanvex/net/secure_shell.h"
#include "lanvex/net/telnet_session.h"

#include "platform/com/bstr.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace
{

template <class Session> void RefreshOnOpenConnection(benchmark::State& state, const char* prefix)
{
    const std::string base = std::string("VIGIL_") + prefix + "_";
    const char* port = std::getenv((base + "PORT").c_str());
    const char* user = std::getenv((base + "USER").c_str());
    const char* password = std::getenv((base + "PASSWORD").c_str());
    if (port == nullptr || user == nullptr || password == nullptr)
    {
        state.SkipWithError("no peer: source scripts/peers start (as root) first");
        return;
    }
    void* pv = nullptr;
    lanvex::CreateComponent<Session>(nullptr, IID_IlvTelnet2, &pv);
    IlvTelnet2* pSession = static_cast<IlvTelnet2*>(pv);
    CComBSTR command(u"ps auxw");
    pSession->put_Address(CComBSTR(u"127.0.0.1"));
    pSession->put_Username(CComBSTR(std::string_view(user)));
    pSession->put_Password(CComBSTR(std::string_view(password)));
    pSession->put_Port(static_cast<SHORT>(std::atoi(port)));
    if (pSession->Connect() != S_OK)
        state.SkipWithError("login failed");
    else
    {
        LONG nBytes = 0;
        for (auto _ : state)
        {
            if (pSession->Execute(command) != S_OK)
                state.SkipWithError("ps failed");
            pSession->GetOutputSize(&nBytes);
        }
        state.counters["reply_bytes"] = static_cast<double>(nBytes);
    }
    pSession->Disconnect();
    pSession->Release();
}

void BM_PsRefreshOverSsh(benchmark::State& state)
{
    RefreshOnOpenConnection<lanvex::lvSecureShell>(state, "SSH");
}
BENCHMARK(BM_PsRefreshOverSsh)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_PsRefreshOverTelnet(benchmark::State& state)
{
    RefreshOnOpenConnection<lanvex::lvTelnet>(state, "TELNET");
}
BENCHMARK(BM_PsRefreshOverTelnet)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The SSH session records the peer's host key under HOME: a throwaway one, never the user's.
    char home[] = "/tmp/bench-ssh-XXXXXX";
    if (::mkdtemp(home) == nullptr)
        return 1;
    ::setenv("HOME", home, 1);
    ::unsetenv("SSH_AUTH_SOCK");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
