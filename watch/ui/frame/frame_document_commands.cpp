// The main window's document commands: New, Open, Save, recent files and dropped files.
#include "watch/ui/frame/main_frame.h"

#include "watch/ui/frame/recent_file_list.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace
{
const char kUntitled[] = "Untitled";
const char kFileFilter[] = "Watch Log Files (*.pvg);;All Files (*)";
const char kDefaultExtension[] = ".pvg";
} // namespace

void CMainFrame::OnFileNew()
{
    if (m_document->NewDocument())
        ResetDocumentTitle();
}

void CMainFrame::OnFileOpen()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open"), QString(), QString::fromLatin1(kFileFilter));
    if (!path.isEmpty())
        OpenDocumentFile(path);
}

// The file on display after an Open or a Save: title and recent-file list follow it.
void CMainFrame::RememberDocumentPath(const QString& path)
{
    m_documentPath = QFileInfo(path).absoluteFilePath();
    if (m_recentFiles != nullptr)
    {
        m_recentFiles->Add(m_documentPath);
        m_recentFiles->WriteList();
        RebuildRecentMenu();
    }
    UpdateTitle();
}

bool CMainFrame::OpenDocumentFile(const QString& path)
{
    QString error;
    if (!m_document->OpenDocument(path, &error))
    {
        Report(error.isEmpty() ? tr("Failed to open document.") : error);
        return false;
    }
    RememberDocumentPath(path);
    return true;
}

void CMainFrame::OnOpenRecentFile(int index)
{
    if (m_recentFiles == nullptr)
        return;
    const QString path = m_recentFiles->GetAt(index);
    if (path.isEmpty())
        return;
    if (!OpenDocumentFile(path))
    {
        // An entry that no longer opens leaves the list.
        m_recentFiles->Remove(index);
        m_recentFiles->WriteList();
        RebuildRecentMenu();
    }
}

void CMainFrame::OnFileSave()
{
    if (m_documentPath.isEmpty())
        OnFileSaveAs();
    else
        SaveDocumentFile(m_documentPath);
}

void CMainFrame::OnFileSaveAs()
{
    const QString suggested = m_documentPath.isEmpty()
                                  ? QString::fromLatin1(kUntitled) + kDefaultExtension
                                  : m_documentPath;
    QString path = QFileDialog::getSaveFileName(this, tr("Save As"), suggested,
                                                QString::fromLatin1(kFileFilter));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QString::fromLatin1(kDefaultExtension);
    SaveDocumentFile(path);
}

bool CMainFrame::SaveDocumentFile(const QString& path)
{
    QString error;
    if (!m_document->SaveDocument(path, &error))
    {
        Report(error.isEmpty() ? tr("Failed to save document.") : error);
        return false;
    }
    RememberDocumentPath(path);
    return true;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    for (const QUrl& url : event->mimeData()->urls())
    {
        if (url.isLocalFile())
        {
            event->acceptProposedAction();
            return;
        }
    }
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    activateWindow();
    // Each file is opened in turn; the last one that opens stays on display.
    for (const QUrl& url : urls)
    {
        if (url.isLocalFile())
            OpenDocumentFile(url.toLocalFile());
    }
}
