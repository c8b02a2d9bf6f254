// The "Host Options" dialog: the Settings and Filter pages over one host record.
#include "watch/ui/dialogs/options_sheet.h"

#include "watch/ui/dialogs/options_pages.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
CHostOptionsDlg::ExtraPageFactory& ExtraPages()
{
    static CHostOptionsDlg::ExtraPageFactory factory;
    return factory;
}
} // namespace

void CHostOptionsDlg::SetExtraPageFactory(ExtraPageFactory factory)
{
    ExtraPages() = std::move(factory);
}

CHostOptionsDlg::CHostOptionsDlg(HostSettings& host, QWidget* parent)
    : QDialog(parent), m_host(&host)
{
    setWindowTitle(QStringLiteral("Host Options"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    m_settingsPage = new COptionsPage1;
    m_filterPage = new COptionsPage2;
    m_settingsPage->ReadRecord(host);
    m_filterPage->ReadRecord(host);

    m_sheet = new QTabWidget(this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    m_sheet->addTab(m_settingsPage, QStringLiteral("Settings"));
    m_sheet->addTab(m_filterPage, QStringLiteral("Filter"));
    if (ExtraPages())
        m_extraPages = ExtraPages()(host);
    for (CHostOptionsExtraPage* page : m_extraPages)
        m_sheet->addTab(page, page->windowTitle());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(ok, &QPushButton::clicked, this, &CHostOptionsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CHostOptionsDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_sheet);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);

    // The Settings page is active from the start.
    m_sheet->setCurrentIndex(0);
    m_settingsPage->Activate();
    connect(m_sheet, &QTabWidget::currentChanged, this, &CHostOptionsDlg::OnPageChanged);
    if (auto* first = m_settingsPage->findChild<QLineEdit*>(QStringLiteral("address")))
        first->setFocus();
}

COptionsPage* CHostOptionsDlg::Page(int index) const
{
    if (index == 0)
        return m_settingsPage;
    if (index == 1)
        return m_filterPage;
    return nullptr;
}

void CHostOptionsDlg::ShowPageQuietly(int index)
{
    m_switchingQuietly = true;
    m_sheet->setCurrentIndex(index);
    m_switchingQuietly = false;
    m_activePage = index;
}

// The tab bar has already switched when this runs, so a page that fails its checks is brought
// back before anything else happens, and the message follows once the click is over.
void CHostOptionsDlg::OnPageChanged(int index)
{
    if (m_switchingQuietly)
        return;
    COptionsPage* leaving = Page(m_activePage);
    CExchangeFailure failure;
    if (leaving != nullptr && !leaving->Store(failure))
    {
        ShowPageQuietly(m_activePage);
        QTimer::singleShot(0, this, [this, failure] { ReportFailure(failure); });
        return;
    }
    m_activePage = index;
    if (COptionsPage* entering = Page(index))
        entering->Activate();
}

void CHostOptionsDlg::ReportFailure(const CExchangeFailure& failure)
{
    QPointer<QLineEdit> edit = failure.Edit;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("psvigil"), failure.Message,
                    QMessageBox::Ok, this);
    box.exec();
    if (edit)
    {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}

void CHostOptionsDlg::accept()
{
    // Only pages that were shown have controls worth reading; the others still hold the values
    // they took from the record.
    for (int index = 0; index < m_sheet->count(); ++index)
    {
        COptionsPage* page = Page(index);
        CExchangeFailure failure;
        if (page != nullptr && page->WasActivated() && !page->Store(failure))
        {
            if (index != m_activePage)
                ShowPageQuietly(index);
            ReportFailure(failure);
            return;
        }
    }
    for (int index = 0; index < m_sheet->count(); ++index)
    {
        COptionsPage* page = Page(index);
        if (page != nullptr && page->WasActivated())
            page->WriteRecord(*m_host);
    }
    for (CHostOptionsExtraPage* page : m_extraPages)
        page->Commit(*m_host);
    QDialog::accept();
}
