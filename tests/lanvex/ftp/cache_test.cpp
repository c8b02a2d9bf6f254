// lvCache driven step by step: file and memory storage, rounds of Commit and RollBack, and paths
// that can't hold a cache.
#include "lanvex/ftp/cache.h"

#include "platform/com/conversion.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace lanvex
{
namespace
{

namespace fs = std::filesystem;

enum class Op
{
    Name,  // CacheName = Text (relative to the case's directory; "" stays empty)
    Write, // Write Text; expect Hr and the count Size
    Read,  // Read Size bytes; expect Hr and Text back
    Open,  // Open, Close, Commit, RollBack: S_OK
    Close,
    Commit,
    RollBack,
    EOF_Is // GetEOF gives Size
};
HRESULT(STDMETHODCALLTYPE IlvCache::*const kRounds[])
() = {&IlvCache::Open, &IlvCache::Close, &IlvCache::Commit, &IlvCache::RollBack};

struct Step
{
    Op What;
    std::string Text;
    LONG Size = 0;
    HRESULT Hr = S_OK;
};

Step Name(std::string name)
{
    return {Op::Name, std::move(name)};
}
Step Write(std::string text, HRESULT hr = S_OK, LONG nCount = -1)
{
    const LONG n = nCount >= 0 ? nCount : static_cast<LONG>(text.size());
    return {Op::Write, std::move(text), n, hr};
}
Step Read(LONG nAsk, std::string expect, HRESULT hr = S_OK)
{
    return {Op::Read, std::move(expect), nAsk, hr};
}
Step Eof(bool b)
{
    return {Op::EOF_Is, {}, b ? 1 : 0};
}
const Step kOpen{Op::Open, {}}, kClose{Op::Close, {}}, kCommit{Op::Commit, {}},
    kRollBack{Op::RollBack, {}};

struct CacheCase
{
    const char* Label;
    SHORT Type;
    std::vector<std::pair<std::string, std::string>> Before; // files there at the start
    std::vector<Step> Steps;
    // Files afterwards: name and content; a null content means the file must not exist.
    std::vector<std::pair<std::string, const char*>> After;
};

void PrintTo(const CacheCase& c, std::ostream* os)
{
    *os << c.Label;
}

const std::string k30(30, 'z');

// clang-format off
const CacheCase kCases[] = {
    {"WriteThenCommitKeepsTheFile", 0, {},
     {Name("c"), Write("0123456789"), kCommit}, {{"c", "0123456789"}}},
    {"WriteThenRollBackLeavesNoFile", 0, {},
     {Name("c"), Write("0123456789"), kRollBack}, {{"c", nullptr}}},
    {"ShortReadSetsEndOfDataAndOpenClearsItWithoutRewinding", 0, {{"c", k30}},
     {Name("c"), Eof(false), Read(100, k30), Eof(true), kOpen, Eof(false), Read(10, ""), Eof(true)},
     {{"c", k30.c_str()}}},
    {"ExactReadLeavesEndOfDataForTheNextRead", 0, {{"c", k30}},
     {Name("c"), Read(30, k30), Eof(false), Read(5, ""), Eof(true)}, {}},
    {"CloseBetweenWritesKeepsTheStream", 0, {{"c", "old contents"}},
     {Name("c"), Write("abc"), kClose, Write("def"), kCommit}, {{"c", "abcdef"}}},
    // RollBack deletes what this cache wrote, under the name it had then, and nothing else.
    {"RollBackDeletesTheWrittenFileNotTheRenamedOne", 0, {{"b", "keep me"}},
     {Name("a"), Write("abc"), Name("b"), kRollBack}, {{"a", nullptr}, {"b", "keep me"}}},
    {"RollBackAfterReadingDeletesNothing", 0, {{"c", "keep me"}},
     {Name("c"), Read(3, "kee"), kRollBack, kOpen, kRollBack}, {{"c", "keep me"}}},
    {"RollBackAfterCommitKeepsTheCommittedFile", 0, {},
     {Name("c"), Write("abc"), kCommit, kRollBack}, {{"c", "abc"}}},
    // After Commit or RollBack the stream is gone: refused until Open begins a new round.
    {"WriteAfterCommitIsRefusedUntilOpen", 0, {},
     {Name("c"), Write("abc"), kCommit, Write("x", E_UNEXPECTED, 1), Read(3, "", E_UNEXPECTED),
      kOpen, Read(5, "abc"), kCommit, kOpen, Write("new"), kCommit}, {{"c", "new"}}},
    {"ReadAfterRollBackIsRefusedAndTheFileIsGone", 0, {},
     {Name("c"), Write("abc"), kRollBack, Read(3, "", E_UNEXPECTED), kOpen, Read(3, "", E_HANDLE)},
     {{"c", nullptr}}},
    // Names that hold no cache: E_HANDLE, the count untouched, nothing created; a later call
    // with a good name works.
    {"NamesThatHoldNoCache", 0, {{"d/x", "x"}},
     {Write("abc", E_HANDLE), Name(""), Read(3, "", E_HANDLE), Name("no/such/dir/c"),
      Write("abc", E_HANDLE), Name("d"), Write("abc", E_HANDLE), Read(3, "", E_HANDLE),
      Name(std::string("c\0tail", 6)), Write("abc", E_HANDLE), Name("c"), Read(3, "", E_HANDLE),
      Write("abc"), kCommit},
     {{"c", "abc"}, {"no", nullptr}}},
    {"UnknownTypeMovesNothing", 5, {},
     {Name("c"), Write("abc", S_OK, 0), Read(3, ""), kCommit, kRollBack}, {{"c", nullptr}}},
    // Memory storage reads back what it holds, in order, from a read position.
    {"MemoryHoldsWritesInOrder", 1, {},
     {Read(1, "", E_POINTER), Write("abc"), Write("defg"), Read(7, "abcdefg"), Eof(false),
      Read(1, ""), Eof(true)}, {}},
    {"MemoryReadsInChunksAndRewindsAtCommit", 1, {},
     {Write("abcdef"), Read(4, "abcd"), Read(4, "ef"), Eof(true), kCommit, kOpen, Read(2, "ab"),
      kRollBack, Read(6, "abcdef")}, {}},
};
// clang-format on

class CacheSteps : public testing::TestWithParam<CacheCase>
{
  protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("lanvex-cache-" + std::to_string(::getpid()) + "-" + std::to_string(++s_nCount));
        fs::create_directories(m_dir);
        void* pv = nullptr;
        ASSERT_EQ(CreateComponent<lvCache>(nullptr, IID_IlvCache, &pv), S_OK);
        m_pCache = static_cast<IlvCache*>(pv);
    }
    void TearDown() override
    {
        if (m_pCache != nullptr)
            m_pCache->Release();
        fs::remove_all(m_dir);
    }
    void PutName(const std::string& name)
    {
        const std::string path = name.empty() ? name : (m_dir / name).string();
        const std::u16string wide = NarrowToWide(path);
        BSTR bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        EXPECT_EQ(m_pCache->put_CacheName(bstr), S_OK);
        SysFreeString(bstr);
    }
    std::string Content(const std::string& name) const
    {
        std::ifstream in(m_dir / name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static inline int s_nCount = 0;
    fs::path m_dir;
    IlvCache* m_pCache = nullptr;
};

TEST_P(CacheSteps, Run)
{
    const CacheCase& c = GetParam();
    for (const auto& [name, content] : c.Before)
    {
        fs::create_directories((m_dir / name).parent_path());
        std::ofstream(m_dir / name, std::ios::binary) << content;
    }
    ASSERT_EQ(m_pCache->put_Type(c.Type), S_OK);
    int nStep = 0;
    for (const Step& step : c.Steps)
    {
        SCOPED_TRACE("step " + std::to_string(++nStep));
        std::vector<BYTE> buffer(step.Text.begin(), step.Text.end());
        LONG n = step.Size;
        LONG bEOF = -1;
        switch (step.What)
        {
        case Op::Name:
            PutName(step.Text);
            break;
        case Op::Write:
            n = static_cast<LONG>(buffer.size());
            EXPECT_EQ(m_pCache->Write(buffer.data(), &n), step.Hr);
            EXPECT_EQ(n, step.Size);
            break;
        case Op::Read:
            buffer.assign(static_cast<size_t>(step.Size) + 1, '#');
            EXPECT_EQ(m_pCache->Read(buffer.data(), &n), step.Hr);
            if (SUCCEEDED(step.Hr))
            {
                ASSERT_EQ(n, static_cast<LONG>(step.Text.size()));
                EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + n), step.Text);
                EXPECT_EQ(buffer[static_cast<size_t>(step.Size)], '#'); // nothing past the ask
            }
            else
            {
                EXPECT_EQ(n, step.Size);
            }
            break;
        case Op::Open:
        case Op::Close:
        case Op::Commit:
        case Op::RollBack:
            EXPECT_EQ((m_pCache->*kRounds[static_cast<int>(step.What) - 3])(), S_OK);
            break;
        case Op::EOF_Is:
            EXPECT_EQ(m_pCache->GetEOF(&bEOF), S_OK);
            EXPECT_EQ(bEOF, step.Size);
            break;
        }
    }
    for (const auto& [name, content] : c.After)
    {
        if (content == nullptr)
        {
            EXPECT_FALSE(fs::exists(m_dir / name)) << name;
        }
        else
        {
            EXPECT_EQ(Content(name), content) << name;
        }
    }
    if (c.Before.empty() && c.After.empty())
    {
        EXPECT_TRUE(fs::is_empty(m_dir)) << "the case created a file";
    }
}

INSTANTIATE_TEST_SUITE_P(Cache, CacheSteps, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CacheCase>& info)
                         { return std::string(info.param.Label); });

// Memory storage past a 16-bit count: every byte back, in order.
TEST_F(CacheSteps, MemoryHoldsMoreThan32767Bytes)
{
    ASSERT_EQ(m_pCache->put_Type(lvCache::kMemoryStorage), S_OK);
    std::vector<BYTE> all(100000);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<BYTE>(i * 7 + i / 256);
    for (size_t at = 0; at < all.size(); at += 1000)
    {
        LONG n = 1000;
        ASSERT_EQ(m_pCache->Write(all.data() + at, &n), S_OK);
    }
    std::vector<BYTE> back(all.size() + 10);
    LONG n = static_cast<LONG>(back.size());
    ASSERT_EQ(m_pCache->Read(back.data(), &n), S_OK);
    ASSERT_EQ(n, static_cast<LONG>(all.size()));
    back.resize(all.size());
    EXPECT_EQ(back, all);
}

// A FIFO would block a plain open or read forever; the cache refuses it at once.
TEST_F(CacheSteps, FifoIsRefusedWithoutWaiting)
{
    const fs::path fifo = m_dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    PutName("fifo");
    BYTE buffer[4];
    LONG n = sizeof buffer;
    EXPECT_EQ(m_pCache->Read(buffer, &n), E_HANDLE);
    EXPECT_EQ(m_pCache->Write(buffer, &n), E_HANDLE);
}

// RollBack deletes the file this cache wrote; a file that took its name since is another's.
TEST_F(CacheSteps, RollBackLeavesAFileThatTookTheNameSince)
{
    PutName("c");
    BYTE data[] = {'a', 'b', 'c'};
    LONG n = sizeof data;
    ASSERT_EQ(m_pCache->Write(data, &n), S_OK);
    fs::rename(m_dir / "c", m_dir / "c.old");
    std::ofstream(m_dir / "c") << "another's";
    EXPECT_EQ(m_pCache->RollBack(), S_OK);
    EXPECT_EQ(Content("c"), "another's");
}

} // namespace
} // namespace lanvex
