// The process grid: items in step with the table, selection kept, sort clicks, the arrow.
#include "tests/watch/ui/document/grid_test_support.h"

#include "watch/ui/document/process_columns.h"
#include "watch/ui/document/process_table_model.h"
#include "watch/ui/document/psvigil_view.h"
#include "watch/ui/document/sort_header.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <random>
#include <vector>

namespace
{
TEST_F(GridView, ColumnsHeadingsAndWidths)
{
    const char* headings[] = {"User",       "PID",      "CPU Usage", "Term",
                              "Start Time", "CPU Time", "Command"};
    ASSERT_EQ(m_view.ProcessModel()->columnCount(), 7);
    for (int c = 0; c < 7; ++c)
    {
        EXPECT_EQ(m_view.ProcessModel()->headerData(c, Qt::Horizontal).toString(), headings[c]);
        if (c < 6)
        {
            EXPECT_EQ(m_view.horizontalHeader()->sectionSize(c), m_view.ColumnWidth(c));
        }
        EXPECT_GE(m_view.ColumnWidth(c),
                  ProcessColumns()[static_cast<std::size_t>(c)].ClassicWidth);
    }
    EXPECT_EQ(m_view.LastInsertedColumn(), 6);
    // A later initial update (New, Open) leaves widths the user changed alone.
    m_view.horizontalHeader()->resizeSection(6, 100);
    m_view.OnInitialUpdate();
    EXPECT_EQ(m_view.horizontalHeader()->sectionSize(6), 100);
}

TEST_F(GridView, SortedHeadingsStayWholeAndCommandTakesTheSpareWidth)
{
    CSortHeader& header = *m_view.SortHeader();
    const int w = header.BlankWidth();
    for (int c = 0; c < 7; ++c)
    {
        const QString heading = m_view.ProcessModel()->headerData(c, Qt::Horizontal).toString();
        // The painted text room of a sorted heading: 2 blanks each side, 6 for the arrow.
        const int room = header.sectionSize(c) - 10 * w;
        EXPECT_EQ(header.fontMetrics().elidedText(heading, Qt::ElideRight, room), heading)
            << heading.toStdString();
    }

    const struct
    {
        int ViewWidth;
        bool Stretched;
    } widths[] = {{1600, true}, {2400, true}, {300, false}};
    for (const auto& c : widths)
    {
        m_view.resize(c.ViewWidth, 400);
        m_view.show();
        QApplication::processEvents();
        const int command = header.sectionSize(6);
        EXPECT_GE(command, m_view.ColumnWidth(6)) << c.ViewWidth;
        if (c.Stretched)
        {
            EXPECT_EQ(header.sectionPosition(6) + command, m_view.viewport()->width())
                << c.ViewWidth;
        }
    }
}

TEST_F(GridView, ClippedCellsTellTheirTextAndCopyGivesTabbedLines)
{
    const std::string longCommand(200, 'x');
    FeedAndMerge(m_doc, {MakeProcess(7, "kim", "sh"), MakeProcess(8, "root", longCommand)});
    m_view.resize(600, 300);
    const struct
    {
        int Pid;
        int Column;
        QString ToolTip;
    } cases[] = {{7, 0, ""}, {7, 6, ""}, {8, 6, QString::fromStdString(longCommand)}};
    for (const auto& c : cases)
    {
        const QModelIndex index =
            m_view.ProcessModel()->index(m_view.ProcessModel()->RowOfPid(c.Pid), c.Column);
        EXPECT_EQ(m_view.ClippedCellText(index), c.ToolTip) << c.Pid << "/" << c.Column;
    }

    EXPECT_TRUE(m_view.SelectedLinesText().isEmpty());
    m_view.Sort(1, true);
    m_view.selectAll();
    const QString line7 = "kim\t7\t0.0\t?\t10:00\t0:00\tsh\n";
    const QString line8 =
        "root\t8\t0.0\t?\t10:00\t0:00\t" + QString::fromStdString(longCommand) + "\n";
    EXPECT_EQ(m_view.SelectedLinesText(), line7 + line8);
    m_view.setFocus();
    QTest::keySequence(&m_view, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), line7 + line8);
}

TEST_F(GridView, UpdateAddsKeepsAndRemovesItemsAndReportsTotal)
{
    m_view.ProcessModel()->SetHighlightRefreshes(0); // gone rows leave at once
    QSignalSpy totals(&m_view, &CPsvigilView::TotalChanged);
    FeedAndMerge(m_doc, {MakeProcess(1, "carol"), MakeProcess(2, "alice"), MakeProcess(3, "bob")});
    // Sorted by "User" ascending after the initial update.
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{2, 3, 1}));
    for (int32_t i = 0; i < m_doc.ProcessTable().GetSize(); ++i)
        EXPECT_EQ(m_doc.ProcessTable().GetAt(i)->State, kRowUpdated); // the view's 0 -> 1

    FeedAndMerge(m_doc, {MakeProcess(3, "bob", "changed"), MakeProcess(4, "aaron")});
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{4, 3}));
    EXPECT_EQ(Cell(1, 6), "changed");
    EXPECT_EQ(Cell(0, 1), "4");

    FeedAndMerge(m_doc, {});
    EXPECT_TRUE(ItemPids().empty());
    ASSERT_EQ(totals.count(), 3);
    EXPECT_EQ(totals.at(0).at(0).toInt(), 3);
    EXPECT_EQ(totals.at(1).at(0).toInt(), 2);
    EXPECT_EQ(totals.at(2).at(0).toInt(), 0);
}

TEST_F(GridView, SelectionAndCurrentItemStayWithTheirProcesses)
{
    FeedAndMerge(m_doc,
                 {MakeProcess(10, "mike"), MakeProcess(20, "nina"), MakeProcess(30, "oscar")});
    const int row = m_view.ProcessModel()->RowOfPid(20);
    m_view.selectionModel()->setCurrentIndex(m_view.ProcessModel()->index(row, 0),
                                             QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    // New processes sort in above it, one below it goes away.
    FeedAndMerge(m_doc, {MakeProcess(20, "nina"), MakeProcess(40, "adam"), MakeProcess(50, "bert"),
                         MakeProcess(10, "mike")});
    const QModelIndexList selected = m_view.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].data(CProcessTableModel::kPidRole).toInt(), 20);
    EXPECT_EQ(m_view.currentIndex().data(CProcessTableModel::kPidRole).toInt(), 20);
    EXPECT_EQ(selected[0].row(), 3);
}

TEST_F(GridView, SortClicksFollowTheDirectionRules)
{
    FeedAndMerge(m_doc, {MakeProcess(2), MakeProcess(100), MakeProcess(1), MakeProcess(10)});
    CSortHeader* header = m_view.SortHeader();
    auto click = [&](int column)
    {
        const int x = header->sectionViewportPosition(column) + 5;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
    };
    m_view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_view));

    click(1); // "PID": numbers, ascending
    EXPECT_EQ(header->SortColumn(), 1);
    EXPECT_TRUE(header->IsAscending());
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{1, 2, 10, 100}));
    click(1);
    EXPECT_FALSE(header->IsAscending());
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{100, 10, 2, 1}));
    click(1);
    EXPECT_TRUE(header->IsAscending());
    click(1);
    click(6); // another column always starts ascending
    EXPECT_EQ(header->SortColumn(), 6);
    EXPECT_TRUE(header->IsAscending());

    // Later updates sort by the header's column and direction.
    m_view.Sort(1, true);
    FeedAndMerge(m_doc, {MakeProcess(2), MakeProcess(100), MakeProcess(1), MakeProcess(10),
                         MakeProcess(11)});
    EXPECT_EQ(ItemPids(), (std::vector<int32_t>{1, 2, 10, 11, 100}));
}

// Random refreshes with churn, under every column and direction: after each update the items
// are exactly the table's processes, in order.
TEST_F(GridView, EveryUpdateLeavesTheItemsSortedAndComplete)
{
    m_view.ProcessModel()->SetHighlightRefreshes(0); // the items are exactly the live ones
    std::mt19937 rng(1234);
    std::vector<int32_t> live;
    int32_t nextPid = 1;
    for (int round = 0; round < 60; ++round)
    {
        const int column = static_cast<int>(rng() % 7);
        const bool ascending = rng() % 2 == 0;
        if (round % 10 == 0)
            m_view.Sort(column, ascending);
        std::shuffle(live.begin(), live.end(), rng);
        live.resize(live.size() - std::min<std::size_t>(live.size(), rng() % 4));
        for (int n = static_cast<int>(rng() % (round % 7 == 0 ? 90 : 5)); n > 0; --n)
            live.push_back(nextPid++);
        COwningPtrArray<ProcessRow> rows;
        {
            CAutoLock lock(m_doc.Engine().GetLock());
            m_doc.Engine().GetSnapshot().RemoveAll();
            for (int32_t pid : live)
                m_doc.Engine().GetSnapshot().Add(new ProcessRow(MakeProcess(
                    pid, "u" + std::to_string(rng() % 5), "c" + std::to_string(rng() % 9))));
        }
        m_doc.MergeSnapshot();

        std::vector<int32_t> items = ItemPids();
        const CProcessTableModel& model = *m_view.ProcessModel();
        const int sortColumn = m_view.SortHeader()->SortColumn();
        const bool up = m_view.SortHeader()->IsAscending();
        for (std::size_t i = 1; i < items.size(); ++i)
            ASSERT_LE(model.CompareItems(items[i - 1], items[i], sortColumn, up), 0)
                << "round " << round << " at " << i;
        std::vector<int32_t> expected = live;
        std::sort(items.begin(), items.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(items, expected) << "round " << round;
    }
}

TEST(GridViewStart, FirstUpdateSortsByPidThenTheArrowMovesToUser)
{
    CPsvigilDoc doc;
    FeedAndMerge(doc, {MakeProcess(10, "a"), MakeProcess(2, "b")}); // before the view exists
    CPsvigilView view(&doc);
    EXPECT_EQ(view.SortHeader()->SortColumn(), 1);
    view.OnInitialUpdate();
    EXPECT_EQ(view.ProcessModel()->PidAt(0), 10); // by "User"
    EXPECT_EQ(view.SortHeader()->SortColumn(), 0);
    EXPECT_TRUE(view.SortHeader()->IsAscending());
}

TEST(GridViewStart, DocumentSignalsDriveTheView)
{
    CScratchDir dir;
    CPsvigilDoc doc;
    doc.SetConfigPath(dir.File("psvigil.cfg"));
    CPsvigilView view(&doc);
    QSignalSpy totals(&view, &CPsvigilView::TotalChanged);
    ASSERT_TRUE(doc.NewDocument()); // InitialUpdate
    EXPECT_EQ(view.LastInsertedColumn(), 6);
    FeedAndMerge(doc, {MakeProcess(5)});
    EXPECT_EQ(view.ProcessModel()->rowCount(), 1);
    EXPECT_EQ(totals.count(), 2);
}

// Rows of the arrow area that hold arrow pixels, with the leftmost and rightmost of each.
struct ArrowRow
{
    int Y, Left, Right;
};

std::vector<ArrowRow> ArrowShape(CSortHeader& header, int column)
{
    const QImage image = header.grab().toImage();
    const int w = header.BlankWidth();
    const int right = header.sectionViewportPosition(column) + header.sectionSize(column);
    const QColor face = header.palette().color(QPalette::Button);
    std::vector<ArrowRow> rows;
    for (int y = 1; y < image.height() - 2; ++y)
    {
        int left = -1, last = -1;
        for (int x = right - 6 * w; x < right - 1; ++x)
            if (image.pixelColor(x, y) != face)
            {
                if (left < 0)
                    left = x;
                last = x;
            }
        if (left >= 0)
            rows.push_back({y, left, last});
    }
    return rows;
}

TEST(SortHeaderPainting, ArrowApexUpForAscendingDownForDescending)
{
    CPsvigilDoc doc;
    CPsvigilView view(&doc);
    view.resize(800, 300);
    view.OnInitialUpdate();
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    CSortHeader& header = *view.SortHeader();

    header.SetSortImage(5, true);
    std::vector<ArrowRow> up = ArrowShape(header, 5);
    ASSERT_GE(up.size(), 3u);
    const int upTop = up.front().Right - up.front().Left;
    const int upBottom = up.back().Right - up.back().Left;
    EXPECT_LT(upTop, upBottom) << "ascending: narrow apex on top, base below";

    header.SetSortImage(5, false);
    std::vector<ArrowRow> down = ArrowShape(header, 5);
    ASSERT_GE(down.size(), 3u);
    EXPECT_GT(down.front().Right - down.front().Left, down.back().Right - down.back().Left)
        << "descending: base on top, apex below";

    // Big enough to see at a glance, in the heading's text colour.
    int area = 0;
    for (const ArrowRow& row : down)
        area += row.Right - row.Left + 1;
    const int w = header.BlankWidth();
    EXPECT_GE(area, 2 * w * w);
    const QImage image = header.grab().toImage();
    const ArrowRow& middle = down[down.size() / 2];
    EXPECT_EQ(image.pixelColor((middle.Left + middle.Right) / 2, middle.Y).rgb(),
              header.palette().color(QPalette::ButtonText).rgb());

    // A column that is no longer sorted loses its arrow.
    header.SetSortImage(0, true);
    EXPECT_TRUE(ArrowShape(header, 5).empty());
}
} // namespace
