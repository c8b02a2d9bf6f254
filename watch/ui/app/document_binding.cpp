// Lets the main frame drive the document: host list, Host commands, merge, watch log files.
#include "watch/ui/app/document_binding.h"

#include "watch/ui/document/psvigil_doc.h"

int CDocumentBinding::GetHostCount() const
{
    return m_doc->HostList().GetSize();
}

const HostSettings* CDocumentBinding::GetHostAt(int index) const
{
    return m_doc->HostList().GetAt(index);
}

void CDocumentBinding::OnHostWatch(QWidget* parent)
{
    m_doc->OnHostWatch(parent);
}

void CDocumentBinding::OnQuickPick(int index)
{
    m_doc->OnQuickPick(index);
}

void CDocumentBinding::OnHostStop()
{
    m_doc->OnHostStop();
}

void CDocumentBinding::OnHostRefresh()
{
    m_doc->OnHostRefresh();
}

QString CDocumentBinding::GetLastFailure() const
{
    return QString::fromStdString(m_doc->Engine().GetLastFailure());
}

void CDocumentBinding::OnRefreshResult(intptr_t result)
{
    m_doc->OnRefreshResult(result);
}

QString CDocumentBinding::GetWatchedHost() const
{
    return m_doc->WatchedHostName();
}

QString CDocumentBinding::GetWatchedTransport() const
{
    return m_doc->WatchedTransport();
}

void CDocumentBinding::MergeSnapshot()
{
    m_doc->MergeSnapshot();
}

bool CDocumentBinding::NewDocument()
{
    return m_doc->NewDocument();
}

bool CDocumentBinding::OpenDocument(const QString& path, QString* error)
{
    return m_doc->OpenDocument(path, error);
}

bool CDocumentBinding::SaveDocument(const QString& path, QString* error)
{
    return m_doc->SaveDocument(path, error);
}
