// Lets the main frame drive the document: host list, Host commands, merge, watch log files.
#pragma once

#include "watch/ui/frame/main_frame.h"

class CPsvigilDoc;

class CDocumentBinding : public IFrameDocument
{
  public:
    // doc is not owned and must outlive the binding.
    explicit CDocumentBinding(CPsvigilDoc* doc) : m_doc(doc) {}
    virtual ~CDocumentBinding() = default;

    int GetHostCount() const override;
    const HostSettings* GetHostAt(int index) const override;

    void OnHostWatch(QWidget* parent) override;
    void OnQuickPick(int index) override;
    void OnHostStop() override;
    void OnHostRefresh() override;
    void MergeSnapshot() override;
    QString GetLastFailure() const override;
    void OnRefreshResult(intptr_t result) override;
    QString GetWatchedHost() const override;
    QString GetWatchedTransport() const override;

    bool NewDocument() override;
    bool OpenDocument(const QString& path, QString* error) override;
    bool SaveDocument(const QString& path, QString* error) override;

  private:
    CPsvigilDoc* m_doc;
};
