// One indicator pane of the main window's status bar: a sunken field with one line of text.
#pragma once

#include <QString>
#include <QWidget>

// Texts are kept as given (a trailing line feed included) and drawn on one line. The pane is
// at least its given width and grows to show a longer text whole.
class CStatusPane : public QWidget
{
    Q_OBJECT

  public:
    // width: the pane's text width in pixels; margins and frame come on top.
    explicit CStatusPane(int width, QWidget* parent = nullptr);

    QString GetText() const { return m_text; }
    void SetText(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

    // The room the text needs, never less than the given width.
    int TextWidth() const;

  private:
    int m_width;
    QString m_text;
};
