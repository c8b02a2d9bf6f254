// The process grid: one line per process of the document's table, seven sortable columns.
#pragma once

#include <QTableView>

#include <array>

class CPsvigilDoc;
class CProcessTableModel;
class CSortHeader;

class CPsvigilView : public QTableView
{
    Q_OBJECT
  public:
    // Widths in pixels for the classic 8-point dialog font, whose average character is 6
    // pixels wide; ColumnWidth scales them to the view's font so headings stay readable.
    static constexpr std::array<int, 7> kColumnWidths = {60, 50, 80, 55, 80, 65, 290};
    int ColumnWidth(int column) const;

    // Connects itself to the document's UpdateAllViews and InitialUpdate signals. If the
    // document ran its first New before the view existed, call OnInitialUpdate once.
    explicit CPsvigilView(CPsvigilDoc* doc, QWidget* parent = nullptr);

    // Sizes the columns (the first time only), updates, then puts the arrow on "User"
    // ascending. Runs after every New and Open.
    void OnInitialUpdate();
    // After a merge: new rows get items, gone rows lose theirs, updated rows repaint; reports
    // the count (TotalChanged) and sorts by the header's column and direction.
    void OnUpdate();
    // Sets the arrow and sorts the items by column in the given direction.
    void Sort(int column, bool ascending);

    // The whole text of a cell too narrow to show it (for its tool tip), else empty.
    QString ClippedCellText(const QModelIndex& index) const;
    // The selected lines, top to bottom, cells separated by tabs, each line ending in a line
    // feed: what Ctrl+C puts on the clipboard.
    QString SelectedLinesText() const;

    CProcessTableModel* ProcessModel() const { return m_model; }
    CSortHeader* SortHeader() const { return m_header; }
    int LastInsertedColumn() const { return m_lastInsertedColumn; }

  signals:
    // The number of list items after an update, for the "Total : %d" pane.
    void TotalChanged(int count);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void OnColumnClick(int column);
    // The Command column takes whatever width the other columns leave, never less than its own.
    void StretchCommandColumn();

    CPsvigilDoc* m_doc;
    CProcessTableModel* m_model;
    CSortHeader* m_header;
    int m_lastInsertedColumn = -1;
    bool m_sortable = true;
};
