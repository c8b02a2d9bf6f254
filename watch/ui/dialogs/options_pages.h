// The two pages of the Host Options sheet: "Settings" and "Filter".
#pragma once

#include "watch/engine/host_settings.h"
#include "watch/ui/dialogs/record_text_edit.h"

#include <QString>
#include <QWidget>

#include <cstdint>

class QButtonGroup;
class QCheckBox;
class QLineEdit;

// Where storing a page stopped: the edit whose check failed and the message that says why.
struct CExchangeFailure
{
    QLineEdit* Edit = nullptr;
    QString Message;
};

// A page of the sheet. While the sheet runs, the page's value members hold its truth: the page
// loads its controls from them whenever it becomes active, and stores its controls back into
// them, with checks, when it is left or the sheet is confirmed.
class COptionsPage : public QWidget
{
    Q_OBJECT
  public:
    using QWidget::QWidget;

    // True once the page has been active; a page never shown keeps the values it was given.
    bool WasActivated() const { return m_activated; }
    // The page becomes the active one: its controls show its members.
    void Activate();
    // Stores the controls into the members in exchange order. Stops at the first failing check
    // (the items before it are stored) and describes the failure.
    virtual bool Store(CExchangeFailure& failure) = 0;

    // Copies the record's fields of this page into the members, or the members back.
    virtual void ReadRecord(const HostSettings& host) = 0;
    virtual void WriteRecord(HostSettings& host) const = 0;

  protected:
    virtual void LoadControls() = 0;

  private:
    bool m_activated = false;
};

// "Settings": address, port, login, refresh interval, manual refresh, keep-alive, Unix flavour.
class COptionsPage1 : public COptionsPage
{
    Q_OBJECT
  public:
    // The range the "Port" field takes.
    static constexpr int32_t kPortFieldMin = 1;
    static constexpr int32_t kPortFieldMax = 65535;

    explicit COptionsPage1(QWidget* parent = nullptr);

    bool Store(CExchangeFailure& failure) override;
    void ReadRecord(const HostSettings& host) override;
    void WriteRecord(HostSettings& host) const override;

  protected:
    void LoadControls() override;

  private:
    void OnManualRefreshClicked();

    QLineEdit* m_addressEdit;
    QLineEdit* m_portEdit;
    QLineEdit* m_usernameEdit;
    QLineEdit* m_passwordEdit;
    QLineEdit* m_refreshEdit;
    QCheckBox* m_manualRefreshBox;
    QCheckBox* m_keepOpenBox;
    QButtonGroup* m_flavourGroup;

    int32_t m_keepConnectionOpen = 0;
    CRecordText m_address{sizeof(HostSettings::Address) - 1};
    CRecordText m_password{sizeof(HostSettings::Password) - 1};
    int32_t m_port = 0;
    CRecordText m_username{sizeof(HostSettings::Username) - 1};
    int32_t m_refreshSeconds = 0;
    int32_t m_flavour = 0;
    int32_t m_manualRefresh = 0;
};

// "Filter": which processes to keep.
class COptionsPage2 : public COptionsPage
{
    Q_OBJECT
  public:
    explicit COptionsPage2(QWidget* parent = nullptr);

    bool Store(CExchangeFailure& failure) override;
    void ReadRecord(const HostSettings& host) override;
    void WriteRecord(HostSettings& host) const override;

  protected:
    void LoadControls() override;

  private:
    QLineEdit* m_expressionEdit;
    QButtonGroup* m_modeGroup;

    CRecordText m_filterExpression{sizeof(HostSettings::FilterExpression) - 1};
    int32_t m_filterMode = 0;
};
