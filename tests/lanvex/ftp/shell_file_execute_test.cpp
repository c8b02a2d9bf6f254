// Execute: the pure pieces on exact strings, then whole operations against the real vsftpd that
// scripts/peers serves on loopback (skipped when it is not running).
#include "lanvex/ftp/ftp_client.h"
#include "lanvex/ftp/shell_file.h"
#include "lanvex/ftp/shell_file_execute.h"
#include "tests/lanvex/ftp/shell_file_test_support.h"

#include "lanvex/net/transport/wire_text.h"

#include "platform/com/conversion.h"
#include "platform/com/error_info.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

namespace lanvex
{
namespace
{

namespace fs = std::filesystem;

// Each piece's answer as text ("-" when it refuses), against the expected one.
TEST(FileOperationPieces, ServerFromPatternAndNames)
{
    const auto Server = [](const char* text)
    {
        const auto address = ParseFtpServer(text);
        return address ? address->Host + " " + std::to_string(address->Port) : "-";
    };
    const auto From = [](const char* text)
    {
        const auto split = SplitRemotePattern(text);
        return split ? "[" + split->Directory + "] " + split->Pattern : "-";
    };
    // clang-format off
    const std::pair<const char*, const char*> servers[] = {
        {"ftp.example.net", "ftp.example.net 21"}, {"127.0.0.1:2121", "127.0.0.1 2121"},
        {"host:65535", "host 65535"}, {"host:0", "-"}, {"host:65536", "-"}, {"host:", "-"},
        {"host:21x", "-"}, {":21", "-"}, {"", "-"}};
    const std::pair<const char*, const char*> froms[] = {
        {"*.txt", "[] *.txt"}, {"/pub/*.txt", "[/pub] *.txt"}, {"/a.txt", "[/] a.txt"},
        {"a/b/c?", "[a/b] c?"}, {"pub/", "-"}, {"", "-"}};
    const std::tuple<const char*, const char*, bool> wildcards[] = {
        {"*.txt", "a.txt", true}, {"*.txt", "a.txt.bak", false}, {"*.txt", ".txt", true},
        {"?.txt", "ab.txt", false}, {"?.txt", "\xc3\xa9.txt", true}, // ? is one character
        {"a*b*c", "aXbYbZc", true}, {"a*b*c", "aXbYbZ", false}, {"*", "", true}, {"", "", true},
        {"", "a", false}, {"**a", "bba", true}, {"*.*", "noext", false}, {"A.TXT", "a.txt", false}};
    const std::pair<std::string, bool> names[] = {
        {"a.txt", true}, {"..hidden", true}, {"", false}, {".", false}, {"..", false},
        {"../x", false}, {"a/b", false}, {std::string("a\0b", 3), false}};
    // clang-format on
    for (const auto& [text, expected] : servers)
        EXPECT_EQ(Server(text), expected) << text;
    for (const auto& [text, expected] : froms)
        EXPECT_EQ(From(text), expected) << text;
    for (const auto& [pattern, name, match] : wildcards)
        EXPECT_EQ(MatchesWildcard(pattern, name), match) << pattern << " " << name;
    // Many stars against a long near-miss stay fast (no exponential backtracking).
    EXPECT_FALSE(MatchesWildcard("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
    for (const auto& [name, plain] : names)
        EXPECT_EQ(IsPlainEntryName(name), plain) << name;
    // A fresh description names no server: nothing is done, and that is no success.
    ShellFilePtr file;
    EXPECT_EQ(file->Execute(), E_INVALIDARG);
    // A To with a zero inside is refused before any connection, not cut short at the zero.
    const CComBSTR to{std::u16string_view(u"out\0/elsewhere", 15)};
    file->put_Server(CComBSTR{std::string_view("127.0.0.1:1")});
    file->put_From(CComBSTR{std::string_view("a.txt")});
    file->put_To(to);
    EXPECT_EQ(file->Execute(), E_INVALIDARG);
}

// The real server: each case gets a fresh remote directory holding a.txt, b.txt, c.log and
// sub/d.txt, and a fresh local directory.
class RealFtpServer : public testing::Test
{
  protected:
    void SetUp() override
    {
        const char* pszPort = std::getenv("VIGIL_FTP_PORT");
        const char* pszUser = std::getenv("VIGIL_FTP_USER");
        const char* pszPassword = std::getenv("VIGIL_FTP_PASSWORD");
        if (pszPort == nullptr || pszUser == nullptr || pszPassword == nullptr)
            GTEST_SKIP() << "no FTP peer: run the tests through scripts/test as root "
                            "(scripts/peers starts vsftpd)";
        m_server = std::string("127.0.0.1:") + pszPort;
        m_user = pszUser;
        m_password = pszPassword;
        static int s_nCount = 0;
        m_remote = "lvshell-" + std::to_string(::getpid()) + "-" + std::to_string(++s_nCount);
        m_local = fs::temp_directory_path() / m_remote;
        fs::create_directories(m_local);
        const fs::path upload = m_local / ".upload";
        ASSERT_TRUE(Client(
            [&](IlvFTPClient2* c)
            {
                return Call(c->CreateDir(Bstr(m_remote))) && Call(c->ChangeDir(Bstr(m_remote))) &&
                       Upload(c, upload, "a.txt", "alpha\n") &&
                       Upload(c, upload, "b.txt", "bravo\n") &&
                       Upload(c, upload, "c.log", "charlie\n") && Call(c->CreateDir(Bstr("sub"))) &&
                       Call(c->ChangeDir(Bstr("sub"))) && Upload(c, upload, "d.txt", "delta\n");
            }));
        fs::remove(upload);
    }
    void TearDown() override
    {
        if (m_remote.empty())
            return;
        fs::remove_all(m_local);
        // Whatever the case left on the server goes.
        ShellFilePtr cleanup;
        Describe(cleanup, 3, m_remote, "");
        cleanup->Execute();
    }

    static CComBSTR Bstr(const std::string& text) { return CComBSTR(std::string_view(text)); }
    static bool Call(HRESULT hr) { return hr == S_OK; }
    static bool Upload(IlvFTPClient2* c, const fs::path& local, const char* name, const char* text)
    {
        std::ofstream(local, std::ios::binary) << text;
        return Call(c->WriteFile(Bstr(local.string()), Bstr(name)));
    }
    // Runs steps on a logged-in client of our own.
    bool Client(const std::function<bool(IlvFTPClient2*)>& steps)
    {
        void* pv = nullptr;
        if (CreateComponent<lvFTPClient>(nullptr, IID_IlvFTPClient2, &pv) != S_OK)
            return false;
        auto* c = static_cast<IlvFTPClient2*>(pv);
        c->put_Address(Bstr("127.0.0.1"));
        c->put_Port(static_cast<SHORT>(std::stoi(m_server.substr(10))));
        c->put_Username(Bstr(m_user));
        c->put_Password(Bstr(m_password));
        const bool bDone = Call(c->Connect()) && Call(c->SetType(1)) && steps(c);
        c->Disconnect();
        c->Release();
        return bDone;
    }
    // Names left in the remote directory (and in sub, as "sub/name").
    std::string RemoteNames()
    {
        std::vector<std::string> names;
        Client(
            [&](IlvFTPClient2* c)
            {
                std::function<void(const std::string&)> list = [&](const std::string& prefix)
                {
                    c->put_FileList(0);
                    c->ReadCurrDir();
                    LONG n = 0;
                    c->GetFileCount32(&n);
                    std::vector<std::pair<std::string, bool>> here;
                    for (LONG i = 0; i < n; ++i)
                    {
                        BSTR name = nullptr;
                        LONG bDir = 0;
                        c->GetEntryName(i, &name);
                        c->GetEntryIsDirectory(i, &bDir);
                        here.emplace_back(NarrowFromBstr(name), bDir != 0);
                        SysFreeString(name);
                    }
                    for (const auto& [name, bDir] : here)
                    {
                        names.push_back(prefix + name);
                        if (bDir && Call(c->ChangeDir(Bstr(name))))
                        {
                            list(prefix + name + "/");
                            c->ChangeDirUp();
                        }
                    }
                };
                if (Call(c->ChangeDir(Bstr(m_remote))))
                    list("");
                return true;
            });
        std::sort(names.begin(), names.end());
        std::string joined;
        for (const std::string& name : names)
            joined += (joined.empty() ? "" : " ") + name;
        return joined;
    }
    // Files under the local directory with their contents, "name=text" sorted.
    std::string LocalFiles() const
    {
        std::vector<std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(m_local))
        {
            if (!item.is_regular_file())
                continue;
            std::ifstream in(item.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            std::string content = text.str();
            content.erase(std::remove(content.begin(), content.end(), '\n'), content.end());
            files.push_back(fs::relative(item.path(), m_local).string() + "=" + content);
        }
        std::sort(files.begin(), files.end());
        std::string joined;
        for (const std::string& file : files)
            joined += (joined.empty() ? "" : " ") + file;
        return joined;
    }

    void Describe(const ShellFilePtr& file, SHORT nFunction, const std::string& from,
                  const std::string& to, const std::string& password = {})
    {
        file->put_Server(Bstr(m_server));
        file->put_Username(Bstr(m_user));
        file->put_Password(Bstr(password.empty() ? m_password : password));
        file->put_Function(nFunction);
        file->put_From(Bstr(from));
        file->put_To(Bstr(to));
    }

    std::string m_server, m_user, m_password, m_remote;
    fs::path m_local;
};

struct ExecuteCase
{
    const char* Label;
    SHORT Function;
    const char* From; // under the case's remote directory
    const char* To;   // under the case's local directory ("" leaves To empty)
    LONG CreateDirs;
    LONG FilesOnly;
    HRESULT Result;
    const char* Local;                // local files afterwards
    const char* Remote;               // remote names afterwards
    const char* ErrorNames = nullptr; // what the error description must mention
    const char* Password = nullptr;   // null: the right one
};

void PrintTo(const ExecuteCase& c, std::ostream* os)
{
    *os << c.Label;
}

const char* const kAll = "a.txt b.txt c.log sub sub/d.txt";

const ExecuteCase kExecuteCases[] = {
    {"CopyIntoNewDirectory", 1, "*.txt", "new/dir", 1, 0, S_OK,
     "new/dir/a.txt=alpha new/dir/b.txt=bravo", kAll},
    {"CopyRefusedWithoutCreatingTheDirectory", 1, "*.txt", "new/dir", 0, 0,
     HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "", kAll, "new/dir"},
    {"CopyOneFileUnderAnotherName", 1, "a.txt", "renamed.txt", 0, 0, S_OK, "renamed.txt=alpha",
     kAll},
    {"OneWildcardMatchStillGoesIntoADirectory", 1, "a*", "one", 1, 0, S_OK, "one/a.txt=alpha",
     kAll},
    {"CopyDirectoriesRecursively", 1, "s*", "out", 1, 0, S_OK, "out/sub/d.txt=delta", kAll},
    {"FilesOnlySkipsDirectories", 1, "*", "out", 1, 1, S_OK,
     "out/a.txt=alpha out/b.txt=bravo out/c.log=charlie", kAll},
    {"MoveDeletesWhatArrived", 2, "*.txt", "out", 1, 0, S_OK, "out/a.txt=alpha out/b.txt=bravo",
     "c.log sub sub/d.txt"},
    {"MoveADirectory", 2, "sub", "out", 1, 0, S_OK, "out/sub/d.txt=delta", "a.txt b.txt c.log"},
    {"DeleteOnTheServer", 3, "*.log", "", 0, 0, S_OK, "", "a.txt b.txt sub sub/d.txt"},
    {"DeleteADirectoryTree", 3, "sub", "", 0, 0, S_OK, "", "a.txt b.txt c.log"},
    {"NoMatch", 1, "*.zip", "out", 1, 0, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "", kAll,
     "*.zip"},
    {"MissingRemoteDirectory", 1, "nodir/*.txt", "out", 1, 0, E_ABORT, "", kAll, "nodir"},
    {"FunctionOutOfRange", 7, "*.txt", "out", 1, 0, E_INVALIDARG, "", kAll, "Function 7"},
    {"WrongPasswordDoesNothing", 2, "*.txt", "out", 1, 0, E_FAIL, "", kAll, "Logging in to",
     "wrong password"},
};

class ExecuteOperations : public RealFtpServer, public testing::WithParamInterface<ExecuteCase>
{
};

TEST_P(ExecuteOperations, Run)
{
    const ExecuteCase& c = GetParam();
    ShellFilePtr file;
    Describe(file, c.Function, m_remote + "/" + c.From,
             *c.To != '\0' ? (m_local / c.To).string() : std::string(),
             c.Password != nullptr ? c.Password : "");
    file->put_CreateDestDirectories(c.CreateDirs);
    file->put_FilesOnly(c.FilesOnly);
    EXPECT_EQ(file->Execute(), c.Result);
    const std::string error = TakeErrorDescription();
    if (c.ErrorNames != nullptr)
    {
        EXPECT_NE(error.find(c.ErrorNames), std::string::npos) << error;
    }
    EXPECT_EQ(LocalFiles(), c.Local);
    EXPECT_EQ(RemoteNames(), c.Remote);
}

INSTANTIATE_TEST_SUITE_P(FileOperation, ExecuteOperations, testing::ValuesIn(kExecuteCases),
                         [](const testing::TestParamInfo<ExecuteCase>& info)
                         { return std::string(info.param.Label); });

// Directories are followed to a bound, not for as long as a server offers one more inside.
TEST_F(RealFtpServer, TreeDeeperThanTheBoundIsRefusedThere)
{
    std::string deep = m_remote;
    ASSERT_TRUE(Client(
        [&](IlvFTPClient2* c)
        {
            bool bDone = Call(c->ChangeDir(Bstr(m_remote)));
            for (int i = 0; bDone && i < 101; ++i)
                bDone = Call(c->CreateDir(Bstr("d"))) && Call(c->ChangeDir(Bstr("d")));
            return bDone;
        }));
    ShellFilePtr file;
    Describe(file, 3, m_remote + "/d", "");
    EXPECT_EQ(file->Execute(), E_FAIL);
    EXPECT_NE(TakeErrorDescription().find("100 directories deep"), std::string::npos);
    // The lower half goes first, so that the cleanup stays within the bound.
    for (int i = 0; i < 50; ++i)
        deep += "/d";
    Describe(file, 3, deep, "");
    EXPECT_EQ(file->Execute(), S_OK);
}

// A tree of 200 entries over 5 levels (binary contents, a name that is no UTF-8, one with
// leading blanks, one of 200 bytes) is copied, moved and deleted, byte for byte.
TEST_F(RealFtpServer, LargeTreeCopiedMovedAndDeletedExactly)
{
    std::map<std::string, std::string> tree; // relative path -> contents
    const auto upload = [&](IlvFTPClient2* c, std::string prefix)
    {
        const fs::path staging = m_local / ".staging";
        for (int nLevel = 0; nLevel < 5; ++nLevel)
        {
            for (int i = 0; i < 39; ++i)
            {
                std::string name = "f" + std::to_string(nLevel) + "-" + std::to_string(i);
                if (i == 0)
                    name = "caf\xe9-" + name;
                else if (i == 1)
                    name = "  " + name;
                else if (i == 2)
                    name += std::string(200 - name.size(), 'n');
                std::string contents;
                for (int k = 0; k < (i * 997 + nLevel * 31) % 5000; ++k)
                    contents.push_back(static_cast<char>((k * 7 + i) & 0xFF));
                std::ofstream(staging, std::ios::binary) << contents;
                const std::u16string wide = WireTextToWide(name);
                if (c->WriteFile(Bstr(staging.string()), CComBSTR{std::u16string_view(wide)}) !=
                    S_OK)
                    return false;
                tree[prefix + name] = contents;
            }
            if (!Call(c->CreateDir(Bstr("d"))) || !Call(c->ChangeDir(Bstr("d"))))
                return false;
            prefix += "d/";
        }
        fs::remove(staging);
        return true;
    };
    const auto localTree = [](const fs::path& root)
    {
        std::map<std::string, std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(root))
            if (item.is_regular_file())
            {
                std::ifstream in(item.path(), std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                files[fs::relative(item.path(), root).string()] = text.str();
            }
        return files;
    };
    const auto putTree = [&]
    {
        return Client(
            [&](IlvFTPClient2* c)
            {
                tree.clear();
                // The second time "tree" is there already (a move leaves it, emptied).
                return Call(c->ChangeDir(Bstr(m_remote))) &&
                       (c->CreateDir(Bstr("tree")), Call(c->ChangeDir(Bstr("tree")))) &&
                       upload(c, "");
            });
    };
    ASSERT_TRUE(putTree());
    ASSERT_EQ(tree.size(), 195u); // and the 5 directories: 200 entries

    ShellFilePtr file;
    Describe(file, 1, m_remote + "/tree/*", (m_local / "copy").string());
    EXPECT_EQ(file->Execute(), S_OK) << TakeErrorDescription();
    EXPECT_TRUE(localTree(m_local / "copy") == tree);

    Describe(file, 2, m_remote + "/tree/*", (m_local / "moved").string());
    EXPECT_EQ(file->Execute(), S_OK) << TakeErrorDescription();
    EXPECT_TRUE(localTree(m_local / "moved") == tree);
    EXPECT_EQ(RemoteNames(), std::string(kAll) + " tree");

    ASSERT_TRUE(putTree());
    Describe(file, 3, m_remote + "/tree/*", "");
    EXPECT_EQ(file->Execute(), S_OK) << TakeErrorDescription();
    EXPECT_EQ(RemoteNames(), std::string(kAll) + " tree");
}

} // namespace
} // namespace lanvex
