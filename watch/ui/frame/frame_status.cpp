// The main window's status panes: host, countdown, changes, total and the last refresh.
#include "watch/ui/frame/main_frame.h"

#include "watch/engine/notify_sink.h"
#include "watch/engine/status_text.h"
#include "watch/ui/frame/status_pane.h"

#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStatusBar>

namespace
{
// Pane widths come from strings of blanks in the status bar's font.
constexpr int kHostBlanks = 24;
constexpr int kCountdownBlanks = 16;
constexpr int kChangesBlanks = 12;
constexpr int kTotalBlanks = 16;
constexpr int kRefreshBlanks = 54;
} // namespace

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    const QFontMetrics metrics(bar->font());
    const int blank = metrics.horizontalAdvance(QLatin1Char(' '));

    m_promptPane = new QLabel(tr("Ready"), bar);
    bar->addWidget(m_promptPane, 1);

    // Lock-key indicators are gone: their state is not portably readable, and grey
    // placeholders told the user nothing.
    const struct
    {
        int Pane;
        int Blanks;
    } order[] = {{kPaneHost, kHostBlanks},
                 {kPaneCountdown, kCountdownBlanks},
                 {kPaneChanges, kChangesBlanks},
                 {kPaneTotal, kTotalBlanks},
                 {kPaneRefresh, kRefreshBlanks}};
    for (const auto& p : order)
    {
        m_panes[p.Pane] = new CStatusPane(p.Blanks * blank, bar);
        bar->addPermanentWidget(m_panes[p.Pane]);
    }
    m_panes[kPaneHost]->setToolTip(tr("The host on display and how it is reached"));
    m_panes[kPaneChanges]->setToolTip(tr("Processes that appeared and went in the last refresh"));

    QAction* viewStatus = GetCommand(kCmdViewStatusBar);
    connect(viewStatus, &QAction::toggled, bar, &QWidget::setVisible);
}

void CMainFrame::OnWatchNotify(uint32_t message, intptr_t wParam, intptr_t lParam)
{
    if (message == WM_WATCH_TABLE)
    {
        m_document->MergeSnapshot();
        return;
    }
    if (message != WM_WATCH_STATUS)
        return;

    switch (wParam)
    {
    case kStatusRefreshed:
        m_document->OnRefreshResult(lParam);
        ShowRefreshResult(lParam);
        break;
    case kStatusRunBegins:
        m_running = true;
        UpdateCommandStates();
        UpdateTitle();
        break;
    case kStatusRunEnds:
        m_running = false;
        SetPaneText(kPaneCountdown, QString());
        UpdateCommandStates();
        break;
    case kStatusCountdown:
        SetPaneText(kPaneCountdown, QString::fromStdString(CountdownText(lParam)));
        break;
    default:
        break;
    }
}

void CMainFrame::ShowRefreshResult(intptr_t result)
{
    CStatusPane* pane = m_panes[kPaneRefresh];
    if (result == kRefreshOk)
    {
        m_lastRefreshed = m_clock();
        m_failures = 0;
        SetPaneText(kPaneRefresh, RefreshPaneText(m_lastRefreshed, 0, QString()));
        pane->setToolTip(QString());
        m_reportedFailure.clear();
        return;
    }
    if (result != kRefreshNoConnection && result != kRefreshPsFailed)
        return;
    ++m_failures;
    const QString failure = QString::fromStdString(RefreshResultText(result, {}));
    SetPaneText(kPaneRefresh, RefreshPaneText(m_lastRefreshed, m_failures, failure));
    // What failed and why ride along as the pane's tool tip, and are told once: not again for
    // every refresh or run that fails the same way (in manual mode each refresh is a run).
    const QString reason = m_document->GetLastFailure();
    pane->setToolTip(reason.isEmpty() ? failure : failure + QStringLiteral(": ") + reason);
    if (reason.isEmpty() || reason == m_reportedFailure)
        return;
    m_reportedFailure = reason;
    // Not from inside the notification: a message box runs its own loop, and the engine's
    // later notifications must keep arriving in order.
    const QString message = failure + QStringLiteral(": ") + reason;
    QMetaObject::invokeMethod(
        this, [this, message] { Report(message); }, Qt::QueuedConnection);
}

void CMainFrame::SetTotal(int count)
{
    SetPaneText(kPaneTotal, QString::asprintf("Total : %d", count));
}

void CMainFrame::SetCounts(int total, int matching, int added, int gone)
{
    m_filtering = m_filterField != nullptr && !m_filterField->text().isEmpty();
    if (m_filtering)
        SetPaneText(kPaneTotal, tr("%1 of %2").arg(matching).arg(total));
    else
        SetTotal(total);
    SetPaneText(kPaneChanges, total == 0 && added == 0 && gone == 0
                                  ? QString()
                                  : QStringLiteral("+%1 -%2").arg(added).arg(gone));
}

void CMainFrame::SetPaneText(int pane, const QString& text)
{
    if (pane > kPanePrompt && pane < kPaneCount && m_panes[pane] != nullptr)
        m_panes[pane]->SetText(text);
}

QString CMainFrame::GetPaneText(int pane) const
{
    if (pane == kPanePrompt)
    {
        const QString prompt = statusBar()->currentMessage();
        return prompt.isEmpty() && m_promptPane != nullptr ? m_promptPane->text() : prompt;
    }
    if (pane > kPanePrompt && pane < kPaneCount && m_panes[pane] != nullptr)
        return m_panes[pane]->GetText();
    return QString();
}

QString RefreshTimeText(const QTime& time, const QLocale& locale)
{
    // The locale's short time with seconds added; minutes and seconds always take two digits,
    // and so does a 24-hour hour.
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s')))
    {
        const qsizetype minutes = format.indexOf(QStringLiteral("mm"));
        if (minutes >= 0)
            format.insert(minutes + 2, QStringLiteral(":ss"));
        else
            format = QStringLiteral("HH:mm:ss");
    }
    const bool twelveHour = format.contains(QLatin1Char('a'), Qt::CaseInsensitive);
    if (!twelveHour && !format.contains(QStringLiteral("HH")) &&
        !format.contains(QStringLiteral("hh")))
        format.replace(QRegularExpression(QStringLiteral("[Hh]")), QStringLiteral("HH"));
    return locale.toString(time, format);
}

QString RefreshPaneText(const QTime& lastRefreshed, int failures, const QString& failure,
                        const QLocale& locale)
{
    const QString count =
        failures == 1 ? QObject::tr("1 failure") : QObject::tr("%1 failures").arg(failures);
    if (!lastRefreshed.isValid())
        return failures > 1 ? failure + QStringLiteral(", ") + count : failure;
    const QString time = RefreshTimeText(lastRefreshed, locale);
    if (failures == 0)
        return QObject::tr("Refreshed %1").arg(time);
    return QObject::tr("Last refreshed %1, %2").arg(time, count);
}
