// The grid's column header: paints its own headings and the sort arrow of the sorted column.
#pragma once

#include <QHeaderView>

class CSortHeader : public QHeaderView
{
    Q_OBJECT
  public:
    explicit CSortHeader(QWidget* parent = nullptr);

    // Moves the arrow to column with the given direction; returns the previous sort column.
    int SetSortImage(int column, bool ascending);
    int SortColumn() const { return m_sortColumn; }
    bool IsAscending() const { return m_ascending != 0; }

    // The width of one blank in the header's font: the unit of the arrow's geometry.
    int BlankWidth() const;
    // The width a section needs to show heading whole while it carries the arrow.
    int SortedSectionWidth(const QString& heading) const;

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void DrawArrow(QPainter* painter, const QRect& rect) const;

    int m_sortColumn = 1;
    int m_ascending = 1;
    int m_pressedSection = -1;
};
