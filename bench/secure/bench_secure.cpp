// FTPS and SFTP speed against the local peers (scripts/peers): a 256 MB download and upload with
// lvFTPClient over explicit TLS and with the file operation's SFTP session, each next to curl
// doing the same in the same run (curl --ssl-reqd; curl's sftp://).
#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/sftp_session.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using lanvex::CSftpSession;
using lanvex::lvFTPClient;

constexpr size_t kTransferSize = size_t{256} << 20;

// The peers, the account's home and a working directory; set up once.
struct CPeers
{
    std::string Why; // empty when ready
    int FtpsPort = 0, SshPort = 0;
    std::string User, Password, Ca, Home;
    fs::path Local;

    static CPeers& Get()
    {
        static CPeers s_peers;
        return s_peers;
    }

  private:
    CPeers()
    {
        const char* pszFtps = std::getenv("VIGIL_FTPS_PORT");
        const char* pszSsh = std::getenv("VIGIL_SSH_PORT");
        const char* pszUser = std::getenv("VIGIL_FTPS_USER");
        const char* pszPassword = std::getenv("VIGIL_FTPS_PASSWORD");
        const char* pszCa = std::getenv("VIGIL_FTPS_CA");
        if (!pszFtps || !pszSsh || !pszUser || !pszPassword || !pszCa)
        {
            Why = "no FTPS or SSH peer (source scripts/peers start as root)";
            return;
        }
        FtpsPort = std::atoi(pszFtps);
        SshPort = std::atoi(pszSsh);
        User = pszUser;
        Password = pszPassword;
        Ca = pszCa;
        const passwd* pEntry = ::getpwnam(pszUser);
        if (pEntry == nullptr)
        {
            Why = "no home directory for the account";
            return;
        }
        Home = pEntry->pw_dir;
        Local = fs::temp_directory_path() / ("lanvex-bench-secure-" + std::to_string(::getpid()));
        fs::create_directories(Local / "home" / ".ssh");
        // A known_hosts of our own: the first login records the peer's key.
        ::setenv("HOME", (Local / "home").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 131 + i / 4096);
        for (const fs::path& path : {Local / "up.bin", fs::path(Home) / "bench-secure-down.bin"})
        {
            std::ofstream out(path, std::ios::binary);
            for (size_t n = 0; n < kTransferSize; n += block.size())
                out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        [[maybe_unused]] const int owned = ::chown(
            (fs::path(Home) / "bench-secure-down.bin").c_str(), pEntry->pw_uid, pEntry->pw_gid);
    }
    ~CPeers()
    {
        std::error_code ignored;
        if (!Local.empty())
            fs::remove_all(Local, ignored);
        for (const char* pszName :
             {"bench-secure-down.bin", "bench-secure-up.bin", "bench-secure-up-curl.bin"})
            if (!Home.empty())
                fs::remove(fs::path(Home) / pszName, ignored);
    }
};

CComBSTR Wide(const std::string& text)
{
    return CComBSTR(NarrowToWide(text).c_str());
}

bool Ready(benchmark::State& state)
{
    if (CPeers::Get().Why.empty())
        return true;
    state.SkipWithError(CPeers::Get().Why.c_str());
    return false;
}

void Run(benchmark::State& state, const std::string& command)
{
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            return state.SkipWithError(("failed: " + command).c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}

void BM_LanvexFtps(benchmark::State& state)
{
    if (!Ready(state))
        return;
    CPeers& peers = CPeers::Get();
    void* pv = nullptr;
    lanvex::CreateComponent<lvFTPClient>(nullptr, IID_IlvFTPClient3, &pv);
    auto* p = static_cast<IlvFTPClient3*>(pv);
    p->put_Address(Wide("127.0.0.1"));
    p->put_Port(static_cast<SHORT>(peers.FtpsPort));
    p->put_Username(Wide(peers.User));
    p->put_Password(Wide(peers.Password));
    p->put_Security(1);
    p->put_TlsCaFile(Wide(peers.Ca));
    if (p->Connect() != S_OK || p->SetType(1) != S_OK)
    {
        p->Release();
        return state.SkipWithError("cannot log in");
    }
    const bool bDownload = state.range(0) == 0;
    for (auto _ : state)
    {
        const HRESULT hr = bDownload ? p->ReadFile(Wide("bench-secure-down.bin"),
                                                   Wide((peers.Local / "down.bin").string()))
                                     : p->WriteFile(Wide((peers.Local / "up.bin").string()),
                                                    Wide("bench-secure-up.bin"));
        if (hr != S_OK)
        {
            state.SkipWithError("the transfer failed");
            break;
        }
    }
    p->Disconnect();
    p->Release();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}

void BM_CurlFtps(benchmark::State& state)
{
    if (!Ready(state))
        return;
    CPeers& peers = CPeers::Get();
    const std::string url = "'ftp://" + peers.User + ":" + peers.Password +
                            "@127.0.0.1:" + std::to_string(peers.FtpsPort) + "/";
    // Uploads with TLS 1.3 fail against this vsftpd with curl (426, the file cut short): curl's
    // uploads go over TLS 1.2.
    const std::string curl = "curl -sS --ssl-reqd --cacert '" + peers.Ca + "' ";
    Run(state, state.range(0) == 0
                   ? curl + "-o '" + (peers.Local / "down-curl.bin").string() + "' " + url +
                         "bench-secure-down.bin'"
                   : curl + "--tls-max 1.2 -T '" + (peers.Local / "up.bin").string() + "' " + url +
                         "bench-secure-up-curl.bin'");
}

void BM_LanvexSftp(benchmark::State& state)
{
    if (!Ready(state))
        return;
    CPeers& peers = CPeers::Get();
    CSftpSession session;
    if (!session.Connect("127.0.0.1", peers.SshPort, peers.User, peers.Password))
        return state.SkipWithError(session.Failure().c_str());
    const bool bDownload = state.range(0) == 0;
    for (auto _ : state)
    {
        bool bOk = false;
        if (bDownload)
        {
            FILE* pLocal = nullptr;
            int64_t nBytes = 0;
            const std::string path = (peers.Local / "down.bin").string();
            bOk = session.Download(
                "bench-secure-down.bin", [&] { return pLocal = std::fopen(path.c_str(), "wb"); },
                INT64_MAX, &nBytes);
            if (pLocal != nullptr)
                std::fclose(pLocal);
        }
        else
        {
            FILE* pLocal = std::fopen((peers.Local / "up.bin").c_str(), "rb");
            bOk = pLocal != nullptr && session.Upload(pLocal, "bench-secure-up.bin");
            if (pLocal != nullptr)
                std::fclose(pLocal);
        }
        if (!bOk)
        {
            state.SkipWithError(session.Failure().c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}

void BM_CurlSftp(benchmark::State& state)
{
    if (!Ready(state))
        return;
    CPeers& peers = CPeers::Get();
    // -k: the host key is not what is measured.
    const std::string curl = "curl -sS -k -u '" + peers.User + ":" + peers.Password + "' ";
    const std::string url = "'sftp://127.0.0.1:" + std::to_string(peers.SshPort) + "/~/";
    Run(state, state.range(0) == 0 ? curl + "-o '" + (peers.Local / "down-curl.bin").string() +
                                         "' " + url + "bench-secure-down.bin'"
                                   : curl + "-T '" + (peers.Local / "up.bin").string() + "' " +
                                         url + "bench-secure-up-curl.bin'");
}

// Side by side: each transfer with Lanvex, then with curl. Arg 0 download, 1 upload.
BENCHMARK(BM_LanvexFtps)->Arg(0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlFtps)->Arg(0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LanvexFtps)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlFtps)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LanvexSftp)->Arg(0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlSftp)->Arg(0)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LanvexSftp)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlSftp)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
