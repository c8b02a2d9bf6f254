// The document: merge states as the views see them, New and Open, the Host commands.
#include "tests/watch/ui/document/doc_test_support.h"

#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/files/config_file.h"
#include "watch/ui/files/watch_log.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <QString>

#include <cctype>
#include <chrono>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

namespace
{
using Seen = std::vector<std::pair<int32_t, int32_t>>; // (Pid, State) in table order

// Records what the table looks like every time the views are told to update.
struct ViewSpy
{
    explicit ViewSpy(CPsvigilDoc& doc)
    {
        QObject::connect(&doc, &CPsvigilDoc::UpdateAllViews,
                         [this, &doc]
                         {
                             Seen seen;
                             for (int32_t i = 0; i < doc.ProcessTable().GetSize(); ++i)
                                 seen.emplace_back(doc.ProcessTable().GetAt(i)->Pid,
                                                   doc.ProcessTable().GetAt(i)->State);
                             updates.push_back(seen);
                         });
    }
    std::vector<Seen> updates;
};

std::vector<int32_t> TablePids(const CPsvigilDoc& doc)
{
    std::vector<int32_t> pids;
    for (int32_t i = 0; i < doc.ProcessTable().GetSize(); ++i)
        pids.push_back(doc.ProcessTable().GetAt(i)->Pid);
    return pids;
}

HostSettings NamedHost(const char* address)
{
    HostSettings h;
    SetAddress(h, address);
    h.ManualRefresh = 1; // one refresh, then the run ends by itself
    return h;
}

void WriteCfg(const std::string& path, std::initializer_list<const char*> addresses)
{
    COwningPtrArray<HostSettings> hosts;
    for (const char* a : addresses)
        hosts.Add(new HostSettings(NamedHost(a)));
    ASSERT_TRUE(WriteHostListFile(path, hosts));
}

TEST(DocumentMerge, ViewsSeeNewUpdatedAndGoneBeforeGoneRowsLeave)
{
    CPsvigilDoc doc;
    ViewSpy spy(doc);
    FeedAndMerge(doc, {MakeProcess(1), MakeProcess(2), MakeProcess(3)});
    FeedAndMerge(doc, {MakeProcess(3, "u", "new text"), MakeProcess(4), MakeProcess(2)});
    FeedAndMerge(doc, {});

    ASSERT_EQ(spy.updates.size(), 3u);
    EXPECT_EQ(spy.updates[0], (Seen{{1, 0}, {2, 0}, {3, 0}}));
    // No view set the states to 1, so rows seen once are still new when matched again.
    EXPECT_EQ(spy.updates[1], (Seen{{1, 2}, {2, 1}, {3, 1}, {4, 0}}));
    EXPECT_EQ(spy.updates[2], (Seen{{2, 2}, {3, 2}, {4, 2}}));
    EXPECT_TRUE(TablePids(doc).empty());
}

TEST(DocumentMerge, RowsKeepPositionsAndTakeTheSnapshotValues)
{
    CPsvigilDoc doc;
    FeedAndMerge(doc, {MakeProcess(10), MakeProcess(20), MakeProcess(30)});
    FeedAndMerge(doc, {MakeProcess(40), MakeProcess(30, "root", "changed"), MakeProcess(10)});
    EXPECT_EQ(TablePids(doc), (std::vector<int32_t>{10, 30, 40}));
    ASSERT_NE(doc.FindRowByPid(30), nullptr);
    EXPECT_STREQ(doc.FindRowByPid(30)->Command, "changed");
    EXPECT_STREQ(doc.FindRowByPid(30)->User, "root");
    EXPECT_EQ(doc.FindRowByPid(20), nullptr);
}

TEST(DocumentMerge, EqualPidsInOneSnapshotLandOnOneRowLaterWins)
{
    CPsvigilDoc doc;
    ViewSpy spy(doc);
    FeedAndMerge(doc, {MakeProcess(0, "a", "first"), MakeProcess(0, "b", "second")});
    // Still new: a row the views never saw must reach them as new, or it is never listed.
    EXPECT_EQ(spy.updates.back(), (Seen{{0, 0}}));
    ASSERT_EQ(doc.ProcessTable().GetSize(), 1);
    EXPECT_STREQ(doc.ProcessTable().GetAt(0)->Command, "second");
}

TEST(DocumentNew, FirstNewLoadsCfgLaterNewOnlyEmptiesTheTable)
{
    CScratchDir dir;
    const std::string cfg = dir.File("psvigil.cfg");
    WriteCfg(cfg, {"one", "two"});
    CPsvigilDoc doc;
    doc.SetConfigPath(cfg);
    EXPECT_FALSE(doc.IsHostListLoaded());
    ASSERT_TRUE(doc.NewDocument());
    EXPECT_TRUE(doc.IsHostListLoaded());
    ASSERT_EQ(doc.HostList().GetSize(), 2);
    EXPECT_STREQ(doc.HostList().GetAt(1)->Address, "two");

    FeedAndMerge(doc, {MakeProcess(5)});
    WriteCfg(cfg, {"changed on disk"});
    ViewSpy spy(doc);
    QSignalSpy cleared(&doc, &CPsvigilDoc::TableCleared);
    ASSERT_TRUE(doc.NewDocument());
    EXPECT_EQ(doc.HostList().GetSize(), 2);
    // Emptied outright: the old rows are not shown as gone processes.
    EXPECT_TRUE(spy.updates.empty());
    EXPECT_EQ(cleared.count(), 1);
    EXPECT_EQ(doc.ProcessTable().GetSize(), 0);
    EXPECT_EQ(doc.Title(), "Untitled");
}

TEST(DocumentNew, NoCfgGivesEmptyHostList)
{
    CScratchDir dir;
    CPsvigilDoc doc;
    doc.SetConfigPath(dir.File("psvigil.cfg"));
    ASSERT_TRUE(doc.NewDocument());
    EXPECT_EQ(doc.HostList().GetSize(), 0);
    EXPECT_EQ(doc.LogMarker(), 100);
}

class DocumentFile : public ::testing::Test
{
  protected:
    void SetUp() override { m_doc.SetConfigPath(m_dir.File("psvigil.cfg")); }

    QString SaveRows(const char* name, std::initializer_list<ProcessRow> rows)
    {
        COwningPtrArray<ProcessRow> table;
        for (const ProcessRow& r : rows)
            table.Add(new ProcessRow(r));
        const std::string path = m_dir.File(name);
        std::string error;
        EXPECT_TRUE(SaveWatchLogFile(path, table, &error));
        return QString::fromStdString(path);
    }

    CScratchDir m_dir;
    CPsvigilDoc m_doc;
};

TEST_F(DocumentFile, OpenIntoEmptyTableMergesAllRowsOnce)
{
    const QString path = SaveRows("a.pvg", {MakeProcess(7), MakeProcess(3), MakeProcess(5)});
    ViewSpy spy(m_doc);
    QString error;
    ASSERT_TRUE(m_doc.OpenDocument(path, &error)) << error.toStdString();
    ASSERT_EQ(spy.updates.size(), 1u);
    EXPECT_EQ(spy.updates[0], (Seen{{7, 0}, {3, 0}, {5, 0}}));
    EXPECT_EQ(m_doc.PathName(), path);
    EXPECT_EQ(m_doc.Title(), "a.pvg");
}

// The table an open leaves must be the one that merging after every row gave: only the
// file's first row can keep an old row's place, the rest follow in file order.
struct OpenCase
{
    const char* Name;
    std::vector<ProcessRow> Before; // the table on display when the log is opened
    std::vector<ProcessRow> File;
    std::size_t Keep; // bytes of the file kept, from its start (npos: all)
};

std::ostream& operator<<(std::ostream& os, const OpenCase& c)
{
    return os << c.Name;
}

void FeedRowsAndMerge(CPsvigilDoc& doc, const std::vector<ProcessRow>& rows)
{
    {
        CAutoLock lock(doc.Engine().GetLock());
        doc.Engine().GetSnapshot().RemoveAll();
        for (const ProcessRow& row : rows)
            doc.Engine().GetSnapshot().Add(new ProcessRow(row));
    }
    doc.MergeSnapshot();
}

class DocumentOpenLikeRowByRow : public DocumentFile, public ::testing::WithParamInterface<OpenCase>
{
};

TEST_P(DocumentOpenLikeRowByRow, SameTableAsMergingEveryRow)
{
    const OpenCase& c = GetParam();
    COwningPtrArray<ProcessRow> file;
    for (const ProcessRow& r : c.File)
        file.Add(new ProcessRow(r));
    const std::string bytes = WatchLogBytes(file).substr(0, c.Keep);
    const std::string path = m_dir.File("log.pvg");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // The old way: each row into the snapshot, then a merge.
    CPsvigilDoc rowByRow;
    FeedRowsAndMerge(rowByRow, c.Before);
    rowByRow.Engine().ClearTable();
    const bool complete = ReadWatchLog(bytes,
                                       [&](std::unique_ptr<ProcessRow> row)
                                       {
                                           rowByRow.Engine().GetSnapshot().Add(row.release());
                                           rowByRow.MergeSnapshot();
                                       }) == ArchiveStatus::Ok;

    CPsvigilView view(&m_doc);
    view.OnInitialUpdate();
    FeedRowsAndMerge(m_doc, c.Before);
    ViewSpy spy(m_doc);
    QString error;
    EXPECT_EQ(m_doc.OpenDocument(QString::fromStdString(path), &error), complete);
    EXPECT_LE(spy.updates.size(), 1u);
    ASSERT_EQ(m_doc.ProcessTable().GetSize(), rowByRow.ProcessTable().GetSize());
    for (int32_t i = 0; i < m_doc.ProcessTable().GetSize(); ++i)
    {
        const ProcessRow& a = *m_doc.ProcessTable().GetAt(i);
        const ProcessRow& b = *rowByRow.ProcessTable().GetAt(i);
        EXPECT_EQ(a.Pid, b.Pid) << "row " << i;
        EXPECT_STREQ(a.User, b.User) << "row " << i;
        EXPECT_STREQ(a.Command, b.Command) << "row " << i;
    }
    // The list shows every row once.
    EXPECT_EQ(view.model()->rowCount(), m_doc.ProcessTable().GetSize());
}

constexpr std::size_t kAll = std::string::npos;

INSTANTIATE_TEST_SUITE_P(
    Cases, DocumentOpenLikeRowByRow,
    ::testing::Values(
        OpenCase{"into an empty table", {}, {MakeProcess(7), MakeProcess(3), MakeProcess(5)}, kAll},
        OpenCase{"over rows, first file row known",
                 {MakeProcess(1), MakeProcess(2), MakeProcess(3)},
                 {MakeProcess(3, "root", "from file"), MakeProcess(9), MakeProcess(1, "x", "y")},
                 kAll},
        OpenCase{"over rows, later file rows known",
                 {MakeProcess(4), MakeProcess(5), MakeProcess(6)},
                 {MakeProcess(8), MakeProcess(6, "a", "six"), MakeProcess(4, "b", "four")},
                 kAll},
        OpenCase{"a Pid twice in the file",
                 {MakeProcess(2)},
                 {MakeProcess(1), MakeProcess(2, "a", "first"), MakeProcess(1, "b", "again"),
                  MakeProcess(2, "c", "second")},
                 kAll},
        OpenCase{"cut inside the second row",
                 {MakeProcess(1), MakeProcess(12)},
                 {MakeProcess(12, "u", "kept"), MakeProcess(11), MakeProcess(13)},
                 60},
        OpenCase{"cut inside the count", {MakeProcess(1)}, {MakeProcess(2)}, 6}),
    [](const ::testing::TestParamInfo<OpenCase>& info)
    {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST_F(DocumentFile, OpenOfALogWithoutRowsEmptiesTheTable)
{
    FeedAndMerge(m_doc, {MakeProcess(1)});
    const QString path = SaveRows("empty.pvg", {});
    QString error;
    ASSERT_TRUE(m_doc.OpenDocument(path, &error));
    EXPECT_EQ(m_doc.ProcessTable().GetSize(), 0);
}

TEST_F(DocumentFile, DamagedLogKeepsRowsReadBeforeTheDamage)
{
    const QString good = SaveRows("c.pvg", {MakeProcess(11), MakeProcess(12)});
    std::string bytes;
    {
        std::ifstream in(good.toStdString(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string cut = m_dir.File("cut.pvg");
    {
        std::ofstream out(cut, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size() - 3));
    }
    QString error;
    EXPECT_FALSE(m_doc.OpenDocument(QString::fromStdString(cut), &error));
    EXPECT_EQ(error, "Unexpected file format.");
    EXPECT_EQ(TablePids(m_doc), (std::vector<int32_t>{11}));
    EXPECT_TRUE(m_doc.PathName().isEmpty());

    EXPECT_FALSE(m_doc.OpenDocument(QString::fromStdString(m_dir.File("none.pvg")), &error));
    EXPECT_EQ(error, "Failed to open document.");
}

TEST_F(DocumentFile, SaveWritesMarkerAndRowsInTableOrder)
{
    FeedAndMerge(m_doc, {MakeProcess(300), MakeProcess(100)});
    const std::string path = m_dir.File("saved.pvg");
    QString error;
    ASSERT_TRUE(m_doc.SaveDocument(QString::fromStdString(path), &error));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x64\0\0\0\x02\0\0\0", 8));
    EXPECT_EQ(bytes.substr(8, 5), std::string("\x04user", 5));
    EXPECT_EQ(bytes.substr(13, 4), std::string("\x03"
                                               "300",
                                               4));

    EXPECT_FALSE(m_doc.SaveDocument(QString::fromStdString(m_dir.File("no/dir.pvg")), &error));
    EXPECT_EQ(error, "Failed to save document.");
}

TEST_F(DocumentFile, StartedWithALogTheHostListStillComesFromCfg)
{
    WriteCfg(m_dir.File("psvigil.cfg"), {"kept"});
    const QString path = SaveRows("d.pvg", {MakeProcess(1)});
    QString error;
    ASSERT_TRUE(m_doc.OpenDocument(path, &error));
    ASSERT_EQ(m_doc.HostList().GetSize(), 1);
    // OK in the Watch dialog now writes the list back instead of an empty one.
    m_doc.SetWatchDialogRunner([](QWidget*, COwningPtrArray<HostSettings>&) { return -1; });
    EXPECT_FALSE(m_doc.OnHostWatch(nullptr));
    COwningPtrArray<HostSettings> onDisk;
    ReadHostListFile(m_dir.File("psvigil.cfg"), onDisk);
    EXPECT_EQ(onDisk.GetSize(), 1);
}

// The Host commands start the real engine with a telnet factory that yields nothing, so each
// run reports "cannot connect" once and ends (the hosts refresh manually).
class HostCommands : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        m_cfg = m_dir.File("psvigil.cfg");
        WriteCfg(m_cfg, {"h0", "h1", "h2"});
        m_doc.SetConfigPath(m_cfg);
        m_doc.SetNotifySink(&m_sink);
        m_doc.Engine().SetTelnetFactory(
            [](const HostSettings*, IlvTelnet** telnet, std::string*)
            {
                *telnet = nullptr;
                return REGDB_E_CLASSNOTREG;
            });
        ASSERT_TRUE(m_doc.NewDocument());
    }

    void ChooseWith(int32_t result, bool addHost = false)
    {
        m_doc.SetWatchDialogRunner(
            [result, addHost, this](QWidget*, COwningPtrArray<HostSettings>& hosts)
            {
                ++m_dialogRuns;
                if (addHost)
                    hosts.Add(new HostSettings(NamedHost("added")));
                return result;
            });
    }

    std::vector<std::string> CfgAddresses()
    {
        COwningPtrArray<HostSettings> hosts;
        ReadHostListFile(m_cfg, hosts);
        std::vector<std::string> names;
        for (int32_t i = 0; i < hosts.GetSize(); ++i)
            names.emplace_back(FieldText(hosts.GetAt(i)->Address));
        return names;
    }

    // Waits (bounded) for the run to post a status.
    bool Posted(intptr_t status)
    {
        for (int i = 0; i < 500; ++i)
        {
            for (const WatchNotification& n : m_sink.Events())
                if (n.Message == WM_WATCH_STATUS && n.WParam == status)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool RunEnded() { return Posted(kStatusRunEnds); }

    CScratchDir m_dir;
    std::string m_cfg;
    CRecordingNotifySink m_sink;
    CPsvigilDoc m_doc;
    int m_dialogRuns = 0;
};

TEST_F(HostCommands, WatchOkWritesCfgAndWatchesTheChosenHost)
{
    ChooseWith(1, /*addHost=*/true);
    EXPECT_TRUE(m_doc.OnHostWatch(nullptr));
    EXPECT_EQ(m_dialogRuns, 1);
    EXPECT_EQ(m_doc.Engine().GetHost(), m_doc.HostList().GetAt(1));
    EXPECT_EQ(CfgAddresses(), (std::vector<std::string>{"h0", "h1", "h2", "added"}));
    ASSERT_TRUE(RunEnded());
    const auto events = m_sink.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], (WatchNotification{WM_WATCH_STATUS, kStatusRunBegins, 0}));
}

TEST_F(HostCommands, WatchCancelKeepsListChangesButWritesNothing)
{
    ChooseWith(CPsvigilDoc::kWatchCancelled, /*addHost=*/true);
    EXPECT_FALSE(m_doc.OnHostWatch(nullptr));
    EXPECT_EQ(m_doc.HostList().GetSize(), 4);
    EXPECT_EQ(CfgAddresses(), (std::vector<std::string>{"h0", "h1", "h2"}));
    EXPECT_EQ(m_doc.Engine().GetHost(), nullptr);
}

TEST_F(HostCommands, WatchOkWithEmptyListWritesCountZeroAndStartsNothing)
{
    m_doc.SetWatchDialogRunner(
        [](QWidget*, COwningPtrArray<HostSettings>& hosts)
        {
            hosts.RemoveAll();
            return int32_t{-1};
        });
    EXPECT_FALSE(m_doc.OnHostWatch(nullptr));
    EXPECT_TRUE(CfgAddresses().empty());
    std::ifstream in(m_cfg, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, std::string(4, '\0'));
    EXPECT_EQ(m_doc.Engine().GetHost(), nullptr);
    EXPECT_TRUE(m_sink.Events().empty());
}

TEST_F(HostCommands, QuickPicksStartWithoutDialogOrCfgWrite)
{
    ChooseWith(0);
    m_doc.HostList().Add(new HostSettings(NamedHost("only in memory")));
    struct Case
    {
        int Index;
        bool Starts;
    };
    for (const Case c : {Case{9, false}, Case{-1, false}, Case{4, false}, Case{3, true}})
    {
        SCOPED_TRACE(c.Index);
        EXPECT_EQ(m_doc.OnQuickPick(c.Index), c.Starts);
    }
    EXPECT_EQ(m_doc.Engine().GetHost(), m_doc.HostList().GetAt(3));
    EXPECT_EQ(m_dialogRuns, 0);
    EXPECT_EQ(CfgAddresses(), (std::vector<std::string>{"h0", "h1", "h2"}));
    EXPECT_TRUE(RunEnded());
    EXPECT_TRUE(CPsvigilDoc::HasQuickPickHandler(104));
    EXPECT_TRUE(CPsvigilDoc::HasQuickPickHandler(112));
    EXPECT_FALSE(CPsvigilDoc::HasQuickPickHandler(113));
}

TEST_F(HostCommands, StopEndsAnAutomaticRun)
{
    m_doc.HostList().GetAt(0)->ManualRefresh = 0;
    m_doc.Engine().SetTickMilliseconds(10);
    ASSERT_TRUE(m_doc.OnQuickPick(0));
    // A stop before the run has begun would be reset by the run's start.
    ASSERT_TRUE(Posted(kStatusRunBegins));
    m_doc.OnHostStop();
    EXPECT_TRUE(RunEnded());
}
// Another host's rows never pass for this one's; the same host again keeps what is shown.
TEST_F(HostCommands, AnotherHostEmptiesTheTableFirst)
{
    HostSettings& sshHost = *m_doc.HostList().GetAt(2);
    SetAddress(sshHost, "ssh://db1");
    SetUsername(sshHost, "kim");
    QSignalSpy cleared(&m_doc, &CPsvigilDoc::TableCleared);
    const struct
    {
        int Index;
        const char* Name;
        const char* Transport;
        bool Clears;
    } cases[] = {{0, "h0", "telnet", true},
                 {0, "h0", "telnet", false},
                 {1, "h1", "telnet", true},
                 {2, "kim@db1", "SSH", true}};
    for (const auto& c : cases)
    {
        FeedAndMerge(m_doc, {MakeProcess(5)});
        cleared.clear();
        m_sink.Clear();
        ASSERT_TRUE(m_doc.OnQuickPick(c.Index));
        EXPECT_EQ(cleared.count(), c.Clears ? 1 : 0) << c.Name;
        EXPECT_EQ(m_doc.ProcessTable().GetSize(), c.Clears ? 0 : 1) << c.Name;
        EXPECT_EQ(m_doc.WatchedHostName(), c.Name);
        EXPECT_EQ(m_doc.WatchedTransport(), c.Transport);
        ASSERT_TRUE(RunEnded());
    }
    ASSERT_TRUE(m_doc.NewDocument());
    EXPECT_TRUE(m_doc.WatchedHostName().isEmpty());
}
} // namespace
