// The grid's model: order by kind of column, new and gone marks, stale rows, filter, settings.
#include "tests/watch/ui/document/grid_test_support.h"

#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/sort_header.h"

#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <sstream>

namespace
{
// A row whose text in column is text (the PID column sets the Pid too).
ProcessRow RowWith(int32_t pid, int column, const std::string& text)
{
    ProcessRow row = MakeProcess(pid);
    switch (column)
    {
    case 0:
        CopyToField(row.User, text);
        break;
    case 1:
        CopyToField(row.PidText, text);
        row.Pid = std::atoi(text.c_str());
        break;
    case 2:
        CopyToField(row.CpuUsage, text);
        break;
    case 3:
        CopyToField(row.Term, text);
        break;
    case 4:
        CopyToField(row.StartTime, text);
        break;
    case 5:
        CopyToField(row.CpuTime, text);
        break;
    default:
        CopyToField(row.Command, text);
        break;
    }
    return row;
}

void Feed(CPsvigilDoc& doc, const std::vector<ProcessRow>& rows)
{
    {
        CAutoLock lock(doc.Engine().GetLock());
        doc.Engine().GetSnapshot().RemoveAll();
        for (const ProcessRow& row : rows)
            doc.Engine().GetSnapshot().Add(new ProcessRow(row));
    }
    doc.MergeSnapshot();
}

void Feed(CPsvigilDoc& doc, const std::vector<int32_t>& pids)
{
    std::vector<ProcessRow> rows;
    for (int32_t pid : pids)
        rows.push_back(MakeProcess(pid, "u" + std::to_string(pid)));
    Feed(doc, rows);
}

// One line per awkward value: the texts of a column in ascending order. Empty and unreadable
// texts go last in both directions.
struct OrderCase
{
    int Column;
    std::vector<std::string> Ascending;
    std::vector<std::string> Unreadable;
};

const OrderCase kOrderCases[] = {
    {1, {"1", "10", "12", "101", "108", "13746"}, {}},
    {2, {"0.0", "0.5", "9.5", "10.0", "99.9"}, {"", "-"}},
    // BSD M:SS.ss, procps M:SS, SysV [D-]HH:MM:SS.
    {5,
     {"0:00.05", "0:05", "00:00:07", "9:59.99", "10:05", "01:00:00", "1-00:00:00", "2-03:04:05"},
     {"", "x"}},
    // Today is 2026-12-09, a Wednesday.
    {4,
     {"2025", "7Dec25", "Nov 30", "Dec07", "Tue10AM", "09:15", "10:02", "10:02:03", "3:45PM"},
     {"", "?"}},
    {0, {"alice", "Bob", "carol", "\xc3\x89mile", "zed"}, {}},
    {3, {"?", "pts/2", "pts/10", "tty1"}, {}},
    {6, {"bash", "sh -c 'x'", "sshd: kim", "vi notes.txt"}, {}},
};

TEST_F(GridView, EveryColumnSortsByItsKind)
{
    for (const OrderCase& c : kOrderCases)
    {
        std::vector<ProcessRow> rows;
        std::vector<std::string> texts = c.Ascending;
        texts.insert(texts.end(), c.Unreadable.begin(), c.Unreadable.end());
        // Pids run against the wanted order, so ties by PID cannot fake it.
        int32_t pid = 1000;
        for (const std::string& text : texts)
            rows.push_back(RowWith(pid--, c.Column, text));
        std::reverse(rows.begin(), rows.end());
        Feed(m_doc, rows);
        for (const bool ascending : {true, false})
        {
            m_view.Sort(c.Column, ascending);
            std::vector<std::string> shown;
            for (int r = 0; r < Model().rowCount(); ++r)
                shown.push_back(Cell(r, c.Column).toStdString());
            std::vector<std::string> expected = c.Ascending;
            if (!ascending)
                std::reverse(expected.begin(), expected.end());
            shown.resize(expected.size()); // unreadable texts come after, in PID order
            EXPECT_EQ(shown, expected) << "column " << c.Column << (ascending ? " up" : " down");
        }
        m_doc.ClearProcessTable();
    }
}

TEST_F(GridView, EqualKeysGoByPidInBothDirections)
{
    Feed(m_doc, std::vector<ProcessRow>{RowWith(30, 2, "1.0"), RowWith(10, 2, "1.0"),
                                        RowWith(20, 2, "1.00")});
    m_view.Sort(2, true);
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{10, 20, 30}));
    m_view.Sort(2, false);
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{10, 20, 30}));
    EXPECT_EQ(Model().CompareItems(10, 999, 2, true), 0); // no such process
    EXPECT_EQ(Model().CompareItems(10, 20, 9, true), 0);  // no such column
}

// Refreshes, then the look of every line: "7" current, "7+" new, "7-" gone.
struct LifetimeCase
{
    int Highlight;
    std::vector<std::vector<int32_t>> Refreshes;
    std::string Expected;
};

const LifetimeCase kLifetimeCases[] = {
    {2, {{1, 2}}, "1 2"}, // the first look at a host marks nothing
    {2, {{1, 2}, {1, 3}}, "1 2- 3+"},
    {2, {{1, 2}, {1, 3}, {1, 3}}, "1 2- 3+"},
    {2, {{1, 2}, {1, 3}, {1, 3}, {1, 3}}, "1 3"},
    {2, {{1, 2}, {1}, {1, 2}}, "1 2+"}, // a Pid that comes back is a new process
    {1, {{1, 2}, {1, 3}}, "1 2- 3+"},
    {1, {{1, 2}, {1, 3}, {1, 3}}, "1 3"},
    {0, {{1, 2}, {1, 3}}, "1 3"},
    {3, {{1, 2}, {1, 3}, {1}, {1}}, "1 2- 3-"},
    {2, {{1, 2}, {}}, "1- 2-"},
};

std::string Looks(const CProcessTableModel& model)
{
    std::map<int32_t, std::string> byPid;
    for (int r = 0; r < model.rowCount(); ++r)
    {
        const char* mark[] = {"", "+", "-"};
        byPid[model.PidAt(r)] = mark[static_cast<int>(model.LookAt(r))];
    }
    std::ostringstream out;
    for (const auto& [pid, mark] : byPid)
        out << (out.tellp() > 0 ? " " : "") << pid << mark;
    return out.str();
}

TEST_F(GridView, NewAndGoneMarksLastTheirRefreshes)
{
    for (const LifetimeCase& c : kLifetimeCases)
    {
        m_doc.ClearProcessTable();
        Model().SetHighlightRefreshes(c.Highlight);
        for (const auto& pids : c.Refreshes)
            Feed(m_doc, pids);
        EXPECT_EQ(Looks(Model()), c.Expected)
            << "highlight " << c.Highlight << ", " << c.Refreshes.size() << " refreshes";
    }
}

TEST_F(GridView, CountsOfTheLastRefreshAndSwitchingMarksOff)
{
    QSignalSpy counts(&m_view, &CPsvigilView::CountsChanged);
    Feed(m_doc, std::vector<int32_t>{1, 2, 3});
    Feed(m_doc, std::vector<int32_t>{1, 4, 5, 6});
    ASSERT_FALSE(counts.isEmpty());
    const QList<QVariant> last = counts.last();
    // total, matching, added, gone
    EXPECT_EQ(last, (QList<QVariant>{4, 4, 3, 2}));
    EXPECT_EQ(Model().rowCount(), 6); // the gone ones still shown
    ASSERT_EQ(Looks(Model()), "1 2- 3- 4+ 5+ 6+");
    Model().SetHighlightRefreshes(0);
    EXPECT_EQ(Looks(Model()), "1 4 5 6");
    const QModelIndex gone = Model().index(0, 0);
    EXPECT_FALSE(gone.data(Qt::FontRole).value<QFont>().strikeOut());
}

TEST_F(GridView, AFailedRefreshLeavesStaleRowsUntilTheNextMerge)
{
    const struct
    {
        intptr_t Result;
        bool Stale;
    } cases[] = {{kRefreshOk, false}, {kRefreshNoConnection, true}, {kRefreshPsFailed, true}};
    for (const auto& c : cases)
    {
        Feed(m_doc, std::vector<int32_t>{1, 2});
        m_doc.OnRefreshResult(c.Result);
        EXPECT_EQ(Model().IsStale(), c.Stale) << c.Result;
        EXPECT_EQ(Model().rowCount(), 2) << "the rows stay on display";
    }
    Feed(m_doc, std::vector<int32_t>{1, 2});
    EXPECT_FALSE(Model().IsStale());
    m_doc.OnRefreshResult(kRefreshNoConnection);
    m_doc.ClearProcessTable();
    EXPECT_FALSE(Model().IsStale());
    EXPECT_EQ(Model().rowCount(), 0);
    EXPECT_EQ(m_view.EmptyHint(), "Host > Watch to start");
}

struct FilterCase
{
    const char* Filter;
    std::vector<int32_t> Shown;
};

TEST_F(GridView, FilterShowsLinesContainingTheTextInAnyColumn)
{
    Feed(m_doc, std::vector<ProcessRow>{
                    MakeProcess(1, "alice", "vi notes.txt"), MakeProcess(2, "bob", "sshd: alice"),
                    MakeProcess(3, "carol", "bash"), MakeProcess(12, "\xc3\xa9mile", "top")});
    const FilterCase cases[] = {
        {"", {1, 2, 3, 12}},
        {"ALICE", {1, 2}},      // any column, any case
        {"\xc3\x89MILE", {12}}, // beyond ASCII
        {"12", {12}},           // the PID column too
        {"e1", {}},             // never across two columns
        {"zzz", {}},
    };
    m_view.Sort(1, true);
    for (const FilterCase& c : cases)
    {
        QSignalSpy counts(&m_view, &CPsvigilView::CountsChanged);
        m_view.SetFilter(QString::fromUtf8(c.Filter));
        EXPECT_EQ(ItemPids(), c.Shown) << c.Filter;
        if (!QString::fromUtf8(c.Filter).isEmpty() || counts.count() > 0)
        {
            ASSERT_FALSE(counts.isEmpty()) << c.Filter;
            EXPECT_EQ(counts.last().at(1).toInt(), static_cast<int>(c.Shown.size()));
            EXPECT_EQ(counts.last().at(0).toInt(), 4);
        }
    }
    EXPECT_EQ(m_view.EmptyHint(),
              QString::fromUtf8("No process contains \xe2\x80\x9czzz\xe2\x80\x9d"));
    // A refresh under a filter keeps to it; clearing it brings every line back.
    m_view.SetFilter("alice");
    Feed(m_doc, std::vector<ProcessRow>{MakeProcess(1, "alice"), MakeProcess(3, "carol"),
                                        MakeProcess(4, "alice")});
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{1, 2, 4})); // 2 is gone, still shown
    m_view.SetFilter("");
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{1, 2, 3, 4, 12})); // 2 and 12 shown gone
}

TEST_F(GridView, CurrentLineKeepsItsPlaceOnScreenWhileLinesArriveAbove)
{
    m_view.resize(600, 300);
    m_view.show();
    std::vector<int32_t> pids;
    for (int32_t pid = 100; pid < 300; ++pid)
        pids.push_back(pid);
    Feed(m_doc, pids);
    m_view.Sort(1, true);
    const QModelIndex target = Model().index(Model().RowOfPid(150), 0);
    m_view.scrollTo(target, QAbstractItemView::PositionAtCenter);
    m_view.selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    const int y = m_view.rowViewportPosition(target.row());
    for (int32_t pid = 10; pid < 20; ++pid)
        pids.push_back(pid); // ten lines sort in above it
    Feed(m_doc, pids);
    ASSERT_EQ(m_view.currentIndex().data(CProcessTableModel::kPidRole).toInt(), 150);
    EXPECT_EQ(m_view.rowViewportPosition(m_view.currentIndex().row()), y);
    // A filter keeps the current line in sight.
    m_view.SetFilter("15");
    EXPECT_EQ(m_view.currentIndex().data(CProcessTableModel::kPidRole).toInt(), 150);
}

TEST_F(GridView, WidthsAndSortSurviveARestart)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("psvigil.ini"), QSettings::IniFormat);
    m_view.horizontalHeader()->resizeSection(1, 123);
    m_view.Sort(4, false);
    m_view.SaveSettings(settings);

    CPsvigilDoc doc;
    CPsvigilView view(&doc);
    view.RestoreSettings(settings);
    view.OnInitialUpdate();
    EXPECT_EQ(view.horizontalHeader()->sectionSize(1), 123);
    EXPECT_EQ(view.SortHeader()->SortColumn(), 4);
    EXPECT_FALSE(view.SortHeader()->IsAscending());
    EXPECT_EQ(view.ProcessModel()->SortColumn(), 4);

    // Unknown or absurd values are passed over.
    settings.setValue("Grid/SortColumn", "Nonesuch");
    settings.setValue("Grid/Width/PID", 0);
    CPsvigilView fresh(&doc);
    fresh.RestoreSettings(settings);
    fresh.OnInitialUpdate();
    EXPECT_EQ(fresh.SortHeader()->SortColumn(), 0);
    EXPECT_EQ(fresh.horizontalHeader()->sectionSize(1), fresh.ColumnWidth(1));
}
} // namespace
