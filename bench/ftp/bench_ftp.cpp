// FTP client speed. The listing parse of 100,000 lines; against vsftpd on loopback (scripts/peers),
// a 256 MB download and upload and the listing of a 100,000-file directory, each next to curl
// doing the same in the same run.
#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/ftp_listing.h"

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
using lanvex::lvFTPClient;

constexpr int kListingLines = 100000;
constexpr size_t kTransferSize = size_t{256} << 20;

std::string LongListing()
{
    std::string text = "total 400000\r\n";
    for (int i = 0; i < kListingLines; ++i)
        text += "-rw-r--r--    1 1001     1001       " + std::to_string(1000 + i) +
                " Dec 08 20:54 file-" + std::to_string(i) + ".dat\r\n";
    return text;
}

void BM_ListingParse(benchmark::State& state)
{
    const bool bNamesOnly = state.range(0) != 0;
    std::string text;
    if (bNamesOnly)
        for (int i = 0; i < kListingLines; ++i)
            text += "file-" + std::to_string(i) + ".dat\r\n";
    else
        text = LongListing();
    for (auto _ : state)
    {
        std::vector<lanvex::FtpFileEntry> entries;
        lanvex::ParseFtpListing(text, bNamesOnly, &entries);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(bNamesOnly ? "NLST 100,000 lines" : "LIST 100,000 lines");
}
BENCHMARK(BM_ListingParse)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The peer and a working directory shared by the transfer benchmarks; set up once.
struct CPeer
{
    bool Ready = false;
    std::string Why;
    int Port = 0;
    std::string User, Password, Home;
    fs::path Local;

    static CPeer& Get()
    {
        static CPeer s_peer;
        return s_peer;
    }

  private:
    CPeer()
    {
        const char* pszPort = std::getenv("VIGIL_FTP_PORT");
        const char* pszUser = std::getenv("VIGIL_FTP_USER");
        const char* pszPassword = std::getenv("VIGIL_FTP_PASSWORD");
        if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
        {
            Why = "no FTP peer (source scripts/peers start as root)";
            return;
        }
        Port = std::atoi(pszPort);
        User = pszUser;
        Password = pszPassword;
        const passwd* pEntry = ::getpwnam(pszUser);
        if (pEntry == nullptr)
        {
            Why = "no home directory for the FTP account";
            return;
        }
        Home = pEntry->pw_dir;
        Local = fs::temp_directory_path() / ("lanvex-bench-ftp-" + std::to_string(::getpid()));
        fs::create_directories(Local);
        // The file to move, on both sides: 256 MB of a repeating pattern.
        std::string block(1 << 20, '\0');
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 131 + i / 4096);
        for (const fs::path& path : {Local / "up.bin", fs::path(Home) / "bench-down.bin"})
        {
            std::ofstream out(path, std::ios::binary);
            for (size_t n = 0; n < kTransferSize; n += block.size())
                out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        // A directory of 100,000 empty files, removed again at exit.
        const fs::path many = fs::path(Home) / "bench-many";
        fs::create_directories(many);
        for (int i = 0; i < kListingLines; ++i)
            std::ofstream(many / ("f" + std::to_string(i)));
        Ready = true;
    }
    ~CPeer()
    {
        std::error_code ignored;
        fs::remove_all(Local, ignored);
        if (!Home.empty())
        {
            fs::remove(fs::path(Home) / "bench-down.bin", ignored);
            fs::remove(fs::path(Home) / "bench-up.bin", ignored);
            fs::remove(fs::path(Home) / "bench-up-curl.bin", ignored);
            fs::remove_all(fs::path(Home) / "bench-many", ignored);
        }
    }
};

CComBSTR Text(const std::string& text)
{
    return CComBSTR(NarrowToWide(text).c_str());
}

struct CClient
{
    IlvFTPClient2* p = nullptr;
    explicit CClient(const CPeer& peer)
    {
        void* pv = nullptr;
        lanvex::CreateComponent<lvFTPClient>(nullptr, IID_IlvFTPClient2, &pv);
        p = static_cast<IlvFTPClient2*>(pv);
        p->put_Address(Text("127.0.0.1"));
        p->put_Port(static_cast<SHORT>(peer.Port));
        p->put_Username(Text(peer.User));
        p->put_Password(Text(peer.Password));
    }
    ~CClient()
    {
        p->Disconnect();
        p->Release();
    }
};

std::string CurlUrl(const CPeer& peer, const std::string& path)
{
    return "'ftp://" + peer.User + ":" + peer.Password + "@127.0.0.1:" + std::to_string(peer.Port) +
           "/" + path + "'";
}

enum Kind
{
    kDownload,
    kUpload,
    kListing,
};

void BM_Lanvex(benchmark::State& state)
{
    CPeer& peer = CPeer::Get();
    if (!peer.Ready)
    {
        state.SkipWithError(peer.Why.c_str());
        return;
    }
    const Kind kind = static_cast<Kind>(state.range(0));
    CClient client(peer);
    if (client.p->Connect() != S_OK || client.p->SetType(1) != S_OK)
    {
        state.SkipWithError("cannot log in");
        return;
    }
    for (auto _ : state)
    {
        HRESULT hr = E_FAIL;
        if (kind == kDownload)
            hr = client.p->ReadFile(Text("bench-down.bin"),
                                    Text((peer.Local / "down.bin").string()));
        else if (kind == kUpload)
            hr = client.p->WriteFile(Text((peer.Local / "up.bin").string()), Text("bench-up.bin"));
        else
        {
            client.p->put_FileList(0);
            if (client.p->ChangeDir(Text("bench-many")) == S_OK)
                hr = client.p->ReadCurrDir();
            client.p->ChangeDirUp();
        }
        if (hr != S_OK)
        {
            state.SkipWithError("the transfer failed");
            return;
        }
    }
    if (kind != kListing)
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}

void BM_Curl(benchmark::State& state)
{
    CPeer& peer = CPeer::Get();
    if (!peer.Ready)
    {
        state.SkipWithError(peer.Why.c_str());
        return;
    }
    const Kind kind = static_cast<Kind>(state.range(0));
    std::string command = "curl -sS ";
    if (kind == kDownload)
        command += "-o '" + (peer.Local / "down-curl.bin").string() + "' " +
                   CurlUrl(peer, "bench-down.bin");
    else if (kind == kUpload)
        command +=
            "-T '" + (peer.Local / "up.bin").string() + "' " + CurlUrl(peer, "bench-up-curl.bin");
    else
        command += "-o /dev/null " + CurlUrl(peer, "bench-many/");
    for (auto _ : state)
    {
        if (std::system(command.c_str()) != 0)
        {
            state.SkipWithError("curl failed");
            return;
        }
    }
    if (kind != kListing)
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTransferSize));
}

// Side by side: each transfer with Lanvex, then with curl.
BENCHMARK(BM_Lanvex)->Arg(kDownload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Curl)->Arg(kDownload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lanvex)->Arg(kUpload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Curl)->Arg(kUpload)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lanvex)->Arg(kListing)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Curl)->Arg(kListing)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
