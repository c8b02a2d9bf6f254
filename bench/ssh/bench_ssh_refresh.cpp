// One refresh of `ps auxw` on an already open connection against the real servers scripts/peers
// starts: lvSecureShell, OpenSSH's client over one shared connection (ControlMaster), and
// lvTelnet (which ends a command only after its silence). Each reports its median; the SSH
// session's ratio to OpenSSH's client closes the run.
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/secure_shell.h"
#include "lanvex/net/sessions/telnet_session.h"

#include "platform/com/bstr.h"
#include "platform/com/error_info.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

std::string g_home;
std::map<std::string, double> g_medians; // milliseconds, by benchmark

// Times each iteration itself, so that the median (not only the mean) can be reported.
class CSamples
{
  public:
    void Add(std::chrono::steady_clock::duration d)
    {
        m_ms.push_back(std::chrono::duration<double, std::milli>(d).count());
    }
    void Report(benchmark::State& state, const char* name)
    {
        if (m_ms.empty())
            return;
        std::sort(m_ms.begin(), m_ms.end());
        const size_t n = m_ms.size();
        const double median = n % 2 ? m_ms[n / 2] : (m_ms[n / 2 - 1] + m_ms[n / 2]) / 2;
        state.counters["median_ms"] = median;
        state.counters["min_ms"] = m_ms.front();
        state.counters["max_ms"] = m_ms.back();
        g_medians[name] = median;
    }

  private:
    std::vector<double> m_ms;
};

// The description the component left for its last failure.
std::string LastError()
{
    IErrorInfo* pInfo = nullptr;
    std::string text;
    if (GetErrorInfo(0, &pInfo) == S_OK && pInfo != nullptr)
    {
        BSTR description = nullptr;
        pInfo->GetDescription(&description);
        for (UINT i = 0; i < SysStringLen(description); ++i)
            text.push_back(static_cast<char>(description[i])); // the texts are ASCII
        SysFreeString(description);
        pInfo->Release();
    }
    return text;
}

bool Peer(benchmark::State& state, const char* prefix, std::string& port, std::string& user,
          std::string& password)
{
    const std::string base = std::string("VIGIL_") + prefix + "_";
    const char* pszPort = std::getenv((base + "PORT").c_str());
    const char* pszUser = std::getenv((base + "USER").c_str());
    const char* pszPassword = std::getenv((base + "PASSWORD").c_str());
    if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
    {
        state.SkipWithError("no peer: source scripts/peers start (as root) first");
        return false;
    }
    port = pszPort, user = pszUser, password = pszPassword;
    return true;
}

template <class Session>
void RefreshOnOpenConnection(benchmark::State& state, const char* prefix, const char* name)
{
    std::string port, user, password;
    if (!Peer(state, prefix, port, user, password))
        return;
    void* pv = nullptr;
    lanvex::CreateComponent<Session>(nullptr, IID_IlvTelnet2, &pv);
    IlvTelnet2* pSession = static_cast<IlvTelnet2*>(pv);
    CComBSTR command(u"ps auxw");
    pSession->put_Address(CComBSTR(u"127.0.0.1"));
    pSession->put_Username(CComBSTR(std::string_view(user)));
    pSession->put_Password(CComBSTR(std::string_view(password)));
    pSession->put_Port(static_cast<SHORT>(std::atoi(port.c_str())));
    CSamples samples;
    if (pSession->Connect() != S_OK)
        state.SkipWithError("login failed");
    else
    {
        LONG nBytes = 0;
        for (auto _ : state)
        {
            const auto start = std::chrono::steady_clock::now();
            if (pSession->Execute(command) != S_OK)
            {
                state.SkipWithError(("ps failed: " + LastError()).c_str());
                break;
            }
            pSession->GetOutputSize(&nBytes);
            samples.Add(std::chrono::steady_clock::now() - start);
        }
        state.counters["reply_bytes"] = static_cast<double>(nBytes);
        samples.Report(state, name);
    }
    pSession->Disconnect();
    pSession->Release();
}

void BM_PsRefreshOverSsh(benchmark::State& state)
{
    RefreshOnOpenConnection<lanvex::lvSecureShell>(state, "SSH", "ssh");
}
BENCHMARK(BM_PsRefreshOverSsh)->Unit(benchmark::kMillisecond)->Iterations(40)->UseRealTime();

// OpenSSH's client, each refresh a new session over the one connection its master holds.
void BM_PsRefreshOverOpenSshControlMaster(benchmark::State& state)
{
    std::string port, user, password;
    if (!Peer(state, "SSH", port, user, password))
        return;
    const char* pszKey = std::getenv("VIGIL_SSH_KEY");
    if (pszKey == nullptr)
    {
        state.SkipWithError("no client key of the peer (VIGIL_SSH_KEY)");
        return;
    }
    const std::string key = g_home + "/id", control = g_home + "/control";
    std::filesystem::copy_file(pszKey, key, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(key, std::filesystem::perms::owner_read);
    const std::string options = "-F none -o BatchMode=yes -o StrictHostKeyChecking=accept-new "
                                "-o UserKnownHostsFile=" +
                                g_home + "/known_hosts -o ControlPath=" + control + " -i " + key +
                                " -p " + port + " " + user + "@127.0.0.1";
    if (std::system(
            ("ssh -f -N -o ControlMaster=yes -o ControlPersist=60 " + options + " 2>/dev/null")
                .c_str()) != 0)
    {
        state.SkipWithError("OpenSSH's client could not log in");
        return;
    }
    const std::string command = "ssh " + options + " ps auxw";
    CSamples samples;
    size_t nBytes = 0;
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[65536];
        nBytes = 0;
        for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            nBytes += n;
        if (pipe == nullptr || ::pclose(pipe) != 0)
            state.SkipWithError("ps failed");
        samples.Add(std::chrono::steady_clock::now() - start);
    }
    state.counters["reply_bytes"] = static_cast<double>(nBytes);
    samples.Report(state, "openssh");
    [[maybe_unused]] const int ignored =
        std::system(("ssh -O exit " + options + " 2>/dev/null").c_str());
}
BENCHMARK(BM_PsRefreshOverOpenSshControlMaster)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40)
    ->UseRealTime();

void BM_PsRefreshOverTelnet(benchmark::State& state)
{
    RefreshOnOpenConnection<lanvex::lvTelnet>(state, "TELNET", "telnet");
}
BENCHMARK(BM_PsRefreshOverTelnet)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The SSH sessions record the peer's host key under HOME: a throwaway one, never the user's.
    char home[] = "/tmp/bench-ssh-XXXXXX";
    if (::mkdtemp(home) == nullptr)
        return 1;
    g_home = home;
    ::setenv("HOME", home, 1);
    ::unsetenv("SSH_AUTH_SOCK");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_medians.count("ssh") && g_medians.count("openssh") && g_medians["openssh"] > 0)
        std::printf("median ps auxw refresh: lvSecureShell %.1f ms, OpenSSH ControlMaster %.1f ms, "
                    "ratio %.2f\n",
                    g_medians["ssh"], g_medians["openssh"],
                    g_medians["ssh"] / g_medians["openssh"]);
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
