// The process grid: one line per process of the document's table, sortable columns.
#pragma once

#include <QTableView>

#include <map>

class CPsvigilDoc;
class CProcessTableModel;
class CSortHeader;
class QMenu;
class QSettings;

class CPsvigilView : public QTableView
{
    Q_OBJECT
  public:
    // The starting width of a column: its classic width scaled to the view's font, never
    // narrower than its heading with the sort arrow.
    int ColumnWidth(int column) const;

    // Connects itself to the document's UpdateAllViews and InitialUpdate signals. If the
    // document ran its first New before the view existed, call OnInitialUpdate once.
    explicit CPsvigilView(CPsvigilDoc* doc, QWidget* parent = nullptr);

    // Sizes the columns (the first time only), updates, then puts the arrow on "User"
    // ascending (or on the remembered column). Runs after every New and Open.
    void OnInitialUpdate();
    // After a merge: new rows get items, gone rows are marked and later leave, updated rows
    // repaint, all sorted by the header's column and direction. The current line keeps its
    // place on screen while lines come and go above it.
    void OnUpdate();
    // The document emptied its table (another host, New, Open).
    void OnTableCleared();

    // Column widths and the sort, kept between runs.
    void SaveSettings(QSettings& settings) const;
    void RestoreSettings(QSettings& settings);

    // Shows only the lines that contain text in some column.
    void SetFilter(const QString& text);
    // What an empty grid says: how to start, or that the filter hides everything.
    QString EmptyHint() const;
    // Sets the arrow and sorts the items by column in the given direction.
    void Sort(int column, bool ascending);

    // Shows or hides a column (never the command) as the user chose from the header's
    // context menu; the choice is kept with the settings. Columns the user never chose
    // follow the flavour on display: hidden where its ps does not send them.
    void SetColumnShown(int column, bool shown);
    void ApplyColumnDefaults();
    // The header's context menu: a check for every column but the command (deletes itself
    // when closed).
    QMenu* ColumnMenu();

    // The whole text of a cell too narrow to show it (for its tool tip), else empty.
    QString ClippedCellText(const QModelIndex& index) const;
    // The selected lines, top to bottom, cells separated by tabs, each line ending in a line
    // feed: what Ctrl+C puts on the clipboard.
    QString SelectedLinesText() const;

    CProcessTableModel* ProcessModel() const { return m_model; }
    CPsvigilDoc* Document() const { return m_doc; }
    CSortHeader* SortHeader() const { return m_header; }
    int LastInsertedColumn() const { return m_lastInsertedColumn; }

  signals:
    // The number of list items after an update, for the "Total : %d" pane.
    void TotalChanged(int count);
    // After every merge, clear and filter change: processes in the table, how many the filter
    // shows, and what the last refresh added and removed.
    void CountsChanged(int total, int matching, int added, int gone);

  protected:
    void paintEvent(QPaintEvent* event) override;
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
    bool m_sortRestored = false;         // the remembered sort replaces "User" ascending
    bool m_widthsRestored = false;       // remembered widths replace the starting ones
    std::map<int, bool> m_columnChoices; // column -> shown, as the user chose
};
