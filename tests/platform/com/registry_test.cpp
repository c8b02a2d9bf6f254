// The registry hive: .reg text in and out, the Windows functions, damaged files, transactions,
// and concurrent writers in separate processes.
#include "platform/com/comrt.h"
#include "platform/com/registry_hive.h"
#include "tests/platform/com/test_hive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::string QueryText(HKEY root, const char* path, const char* name)
{
    HKEY key;
    if (RegOpenKeyEx(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char data[256];
    DWORD size = sizeof data, type = 0;
    LONG rc = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(data) : "<no value>";
}

LONG SetText(HKEY root, const char* path, const char* name, const char* value)
{
    HKEY key;
    LONG rc = RegCreateKeyEx(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>(strlen(value) + 1));
    RegCloseKey(key);
    return rc;
}
} // namespace

TEST(RegistryHive, TextRoundTripKeepsEverything)
{
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_CLASSES_ROOT\\CLSID]\n"
        "\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}]\n"
        "@=\"lvTelnet Class\"\n"
        "\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{91F3E726-A6D1-11D3-B52E-0290F7C2A3D4}\\InprocServer32]\n"
        "@=\"/opt/it's \\\"here\\\"\\\\liblanvex.so\"\n"
        "\"ThreadingModel\"=\"Apartment\"\n"
        "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n"
        "\"Count\"=dword:0000002a\n"
        "\"Blob\"=hex:00,ff\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software]\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Korvane]\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Korvane\\psvigil]\n"
        "\n";
    CRegistryHive hive;
    std::string error;
    ASSERT_TRUE(CRegistryHive::Parse(text, &hive, &error)) << error;
    EXPECT_EQ(hive.Serialize(), text);
    const CRegistryKey* inproc =
        hive.Find(RegistryRoot::ClassesRoot, {"clsid", "{91f3e726-a6d1-11d3-b52e-0290f7c2a3d4}",
                                              "INPROCSERVER32"}); // any case
    ASSERT_NE(inproc, nullptr);
    EXPECT_EQ(inproc->FindValue("")->Text(), "/opt/it's \"here\"\\liblanvex.so");
    EXPECT_EQ(inproc->FindValue("lines")->Text(), "a\nb"); // control characters travel as hex(1)
}

TEST(RegistryHive, AcceptsRegeditForms)
{
    // CRLF, a BOM, comments, hex continued over lines, deletions.
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                             "; exported\r\n"
                             "[HKEY_LOCAL_MACHINE\\A]\r\n"
                             "\"Bin\"=hex:01,02,\\\r\n"
                             "  03\r\n"
                             "\"Gone\"=\"x\"\r\n"
                             "\"Gone\"=-\r\n"
                             "[HKEY_LOCAL_MACHINE\\B]\r\n"
                             "[-HKEY_LOCAL_MACHINE\\B]\r\n";
    CRegistryHive hive;
    std::string error;
    ASSERT_TRUE(CRegistryHive::Parse(text, &hive, &error)) << error;
    const CRegistryKey* a = hive.Find(RegistryRoot::LocalMachine, {"A"});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->FindValue("Bin")->Data, (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(a->FindValue("Gone"), nullptr);
    EXPECT_EQ(hive.Find(RegistryRoot::LocalMachine, {"B"}), nullptr);
}

TEST(RegistryHive, DamagedTextIsRefusedWithItsLine)
{
    struct Case
    {
        const char* Text;
        const char* Expected; // in the error message
    } cases[] = {
        {"REGEDIT5\n", "line 1"},
        {"Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n", "line 2: value line before"},
        {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n", "unknown root"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A\\\\B]\n", "empty key name"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A\n", "must end with"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=\"open\n",
         "unterminated"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=\"C:\\dir\"\n",
         "bad escape"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=dword:123456789\n",
         "dword"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=hex:1,2\n", "hex"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=hex:01,\\\n",
         "past the end"},
        {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\ngarbage\n", "line 3"},
        {"\xFF\xFE"
         "W",
         "odd number"},
    };
    for (const Case& c : cases)
    {
        CRegistryHive hive;
        hive.Root(RegistryRoot::ClassesRoot).SetText("", "kept");
        std::string error;
        EXPECT_FALSE(CRegistryHive::Parse(c.Text, &hive, &error)) << c.Text;
        EXPECT_NE(error.find(c.Expected), std::string::npos) << c.Text << " -> " << error;
        EXPECT_EQ(hive.Root(RegistryRoot::ClassesRoot).FindValue("")->Text(), "kept");
    }
}

TEST(RegistryHive, ZeroByteInTheFileIsDamageNotATruncatedValue)
{
    // Found by fuzzing: a zero inside a quoted value used to be written as hex(1) with the zero
    // in it, and the value then read back cut short.
    using namespace std::string_literals;
    const std::string text =
        "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=\"a\0b\"\n"s;
    CRegistryHive hive;
    std::string error;
    EXPECT_FALSE(CRegistryHive::Parse(text, &hive, &error));
    EXPECT_NE(error.find("zero byte"), std::string::npos) << error;
}

TEST(Registry, KeysValuesEnumerationAndDeletion)
{
    CTestHive hive;
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "Probe\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    const BYTE text[] = "value";
    EXPECT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetValueEx(key, u"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"\u00FCber"), 10),
        ERROR_SUCCESS);
    DWORD number = 42;
    EXPECT_EQ(RegSetValueEx(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);

    // Size queries, a short buffer, and the narrow view of a wide write.
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Wide", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u); // "über" in UTF-8 plus the zero
    char small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key, "Wide", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    DWORD back = 0;
    size = sizeof back;
    EXPECT_EQ(RegQueryValueEx(key, "number", nullptr, &type, reinterpret_cast<BYTE*>(&back), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(back, 42u);
    EXPECT_EQ(RegQueryValueEx(key, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "PROBE\\sub", nullptr), "value");

    ASSERT_EQ(SetText(HKEY_CLASSES_ROOT, "Probe\\Alpha", nullptr, "a"), ERROR_SUCCESS);
    HKEY probe;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Probe", 0, KEY_READ, &probe), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[64];
    for (DWORD i = 0;; ++i)
    {
        DWORD cch = sizeof name;
        LONG rc = RegEnumKeyEx(probe, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        names.emplace_back(name, cch);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Sub"}));
    DWORD cch = 3;
    EXPECT_EQ(RegEnumKeyEx(probe, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);

    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Probe"), ERROR_ACCESS_DENIED); // has subkeys
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Probe"), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(key, "After", 0, REG_SZ, text, sizeof text), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Probe"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Probe", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);

    EXPECT_EQ(RegCloseKey(probe), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(probe), ERROR_INVALID_HANDLE); // a stale handle is refused, not followed
    EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(0x1234), "x", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
}

TEST(Registry, PathComesFromTheEnvironment)
{
    {
        CTestHive hive;
        EXPECT_EQ(ComrtRegistryPath(), hive.Path());
    }
    std::string oldXdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", "/data/x", 1);
    EXPECT_EQ(ComrtRegistryPath(), "/data/x/comrt/registry.reg");
    unsetenv("XDG_DATA_HOME");
    const char* home = getenv("HOME");
    EXPECT_EQ(ComrtRegistryPath(), home && *home
                                       ? std::string(home) + "/.local/share/comrt/registry.reg"
                                       : std::string("./comrt/registry.reg"));
    if (!oldXdg.empty())
        setenv("XDG_DATA_HOME", oldXdg.c_str(), 1);
}

TEST(Registry, DamagedFileFailsClearlyAndIsNeverOverwritten)
{
    CTestHive hive;
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n@=\"x\n";
    hive.Write(damaged);
    HKEY key;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(ComrtLastErrorText().find("line 3"), std::string::npos) << ComrtLastErrorText();
    EXPECT_NE(ComrtLastErrorText().find(hive.Path()), std::string::npos);
    EXPECT_EQ(SetText(HKEY_CLASSES_ROOT, "B", nullptr, "y"), ERROR_REGISTRY_CORRUPT);
    CRegTransaction txn;
    EXPECT_EQ(txn.Begin(), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(hive.Read(), damaged);

    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Any.Thing", &clsid), REGDB_E_READREGDB);

    // Something else in the hive's place (a FIFO without a writer) fails at once and stays.
    ASSERT_EQ(std::remove(hive.Path().c_str()), 0);
    ASSERT_EQ(mkfifo(hive.Path().c_str(), 0600), 0);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &key), ERROR_CANTREAD);
    EXPECT_EQ(SetText(HKEY_CLASSES_ROOT, "B", nullptr, "y"), ERROR_CANTREAD);
    struct stat st;
    ASSERT_EQ(lstat(hive.Path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(Registry, TransactionWritesOnceOnCommitAndNothingOnAbort)
{
    CTestHive hive;
    {
        CRegTransaction txn;
        ASSERT_EQ(txn.Begin(), ERROR_SUCCESS);
        ASSERT_EQ(SetText(HKEY_CLASSES_ROOT, "T\\One", nullptr, "1"), ERROR_SUCCESS);
        EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "T\\One", nullptr), "1"); // visible inside
        EXPECT_EQ(hive.Read(), "");                                      // not yet on disk
        txn.Abort();
    }
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "T\\One", nullptr), "<no key>");
    {
        CRegTransaction outer, inner;
        ASSERT_EQ(outer.Begin(), ERROR_SUCCESS);
        ASSERT_EQ(inner.Begin(), ERROR_SUCCESS);
        ASSERT_EQ(SetText(HKEY_CLASSES_ROOT, "T\\Two", nullptr, "2"), ERROR_SUCCESS);
        EXPECT_EQ(inner.Commit(), ERROR_SUCCESS);
        EXPECT_EQ(hive.Read(), ""); // only the outermost commit writes
        EXPECT_EQ(outer.Commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "T\\Two", nullptr), "2");
    {
        CRegTransaction outer, inner; // an inner abort dooms the whole
        ASSERT_EQ(outer.Begin(), ERROR_SUCCESS);
        ASSERT_EQ(inner.Begin(), ERROR_SUCCESS);
        ASSERT_EQ(SetText(HKEY_CLASSES_ROOT, "T\\Three", nullptr, "3"), ERROR_SUCCESS);
        inner.Abort();
        EXPECT_EQ(outer.Commit(), ERROR_CANTWRITE);
    }
    EXPECT_EQ(QueryText(HKEY_CLASSES_ROOT, "T\\Three", nullptr), "<no key>");
}

TEST(Registry, ConcurrentWritersInSeparateProcessesLoseNothing)
{
    CTestHive hive;
    constexpr int kProcesses = 4, kKeys = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p)
    {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
        {
            int failures = 0;
            for (int k = 0; k < kKeys; ++k)
            {
                std::string path = "Race\\P" + std::to_string(p) + "K" + std::to_string(k);
                failures += SetText(HKEY_CLASSES_ROOT, path.c_str(), nullptr, "x") != ERROR_SUCCESS;
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY race;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "Race", 0, KEY_READ, &race), ERROR_SUCCESS);
    DWORD count = 0;
    char name[32];
    DWORD cch = sizeof name;
    while (RegEnumKeyEx(race, count, name, &cch, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS)
        ++count, cch = sizeof name;
    EXPECT_EQ(count, static_cast<DWORD>(kProcesses * kKeys));
    RegCloseKey(race);
}

// A rewrite goes through a symbolic link to its target and keeps an existing file's mode; a new
// hive is private to its owner. A failed rewrite is counted.
TEST(Registry, RewriteFollowsLinksAndKeepsTheMode)
{
    struct Case
    {
        const char* Name;
        bool Link;
        mode_t Existing; // 0: no file yet
        mode_t Expected;
        uid_t Owner = 0; // another owner of the existing file (needs root to arrange), or 0
    } cases[] = {
        {"new hive", false, 0, 0600},
        {"shared hive", false, 0644, 0644},
        {"hive behind a link", true, 0640, 0640},
        {"link to a file not yet there", true, 0, 0600},
        {"another user's hive rewritten by root", true, 0640, 0640, 4321},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        if (c.Owner && geteuid() != 0)
            continue;
        CTestHive hive;
        const std::string target = hive.Dir() + "/elsewhere/real.reg";
        const std::string file = c.Link ? target : hive.Path();
        std::filesystem::create_directories(hive.Dir() + "/elsewhere");
        if (c.Link)
        {
            ASSERT_EQ(symlink("elsewhere/real.reg", hive.Path().c_str()), 0);
        }
        if (c.Existing)
        {
            std::ofstream(file) << "Windows Registry Editor Version 5.00\n";
            ASSERT_EQ(chmod(file.c_str(), c.Existing), 0);
            if (c.Owner)
            {
                ASSERT_EQ(chown(file.c_str(), c.Owner, c.Owner), 0);
            }
        }
        ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "Linked", REG_SZ, "yes", 0), ERROR_SUCCESS);
        struct stat st;
        ASSERT_EQ(lstat(hive.Path().c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), c.Link) << "the link itself stays";
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.Expected);
        if (c.Owner)
        {
            EXPECT_EQ(st.st_uid, c.Owner) << "the owner stays";
            ASSERT_EQ(stat((file + ".lock").c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, c.Owner) << "the owner can still take the lock";
        }
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("Linked"), std::string::npos);
    }

    CTestHive hive;
    std::filesystem::create_directory(hive.Path() + ".lock"); // the lock cannot be taken
    const unsigned long before = ComrtRegistryWriteFailures();
    EXPECT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "Nope", REG_SZ, "x", 0), ERROR_CANTWRITE);
    EXPECT_EQ(ComrtRegistryWriteFailures(), before + 1);
}
