// The "FTP File Operation" dialog in Qt Widgets: its template, its window, and running it modally.
#include "lanvex/ftp/shell_file_dialog.h"
#include "lanvex/ftp/shell_file_dialog_modal.h"

#include "platform/ui/dialog_units.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace lanvex
{

namespace
{

enum class Kind
{
    DefaultButton,
    Button,
    Radio,
    Check,
    Group,
    Edit,
    Static
};

struct TemplateControl
{
    int Id; // 0: the control has none
    Kind What;
    const char* Text;
    int X, Y, Width, Height; // dialog units
    bool TabStop;
    int Buddy = 0; // a label's edit, which its mnemonic focuses
};

// The dialog template, in template order: creation order, z-order and Tab order follow it.
constexpr TemplateControl kTemplate[] = {
    {1, Kind::DefaultButton, "&OK", 111, 224, 50, 14, true},
    {2, Kind::Button, "C&ancel", 163, 224, 50, 14, true},
    {203, Kind::Radio, "&Copy", 20, 169, 41, 10, true},
    {204, Kind::Radio, "&Move", 20, 184, 34, 10, false},
    {205, Kind::Radio, "&Delete", 20, 199, 37, 10, false},
    {206, Kind::Check, "Show d&ialog", 100, 169, 57, 10, true},
    {207, Kind::Check, "Files o&nly", 100, 184, 50, 10, true},
    {208, Kind::Check, "Create destination di&rectories", 100, 199, 110, 10, true},
    {0, Kind::Group, "Operation", 7, 155, 73, 62, false},
    {0, Kind::Group, "Options", 88, 155, 125, 63, false},
    {0, Kind::Group, "", 7, 3, 206, 72, false},
    {201, Kind::Edit, "", 75, 15, 80, 14, true},
    {202, Kind::Edit, "", 75, 35, 80, 14, true},
    {209, Kind::Edit, "", 75, 55, 80, 14, true},
    {212, Kind::Check, "S&how", 160, 57, 45, 10, true}, // shows the masked password
    {210, Kind::Edit, "", 20, 99, 165, 14, true},
    {211, Kind::Edit, "", 20, 129, 165, 14, true},
    {0, Kind::Group, "", 7, 77, 206, 75, false},
    {0, Kind::Static, "&From (may use wildcards , *.*, ?.* etc.) :", 20, 89, 160, 8, false, 210},
    {0, Kind::Static, "&To (destination directory or file name) :", 20, 119, 120, 8, false, 211},
    {0, Kind::Static, "&Username", 35, 39, 33, 8, false, 202},
    {0, Kind::Static, "&Password", 36, 57, 32, 8, false, 209},
    {0, Kind::Static, "&Server", 44, 19, 22, 8, false, 201},
};

constexpr int kDialogWidth = 220;
constexpr int kDialogHeight = 245;

QString ToQt(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQt(const QString& text)
{
    return text.toStdU16String();
}

class CFileOperationDlg : public QDialog
{
  public:
    CFileOperationDlg(QWidget* pOwner, FileOperationFields& fields)
        : QDialog(pOwner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint),
          m_fields(fields)
    {
        setWindowTitle(QStringLiteral("FTP File Operation"));
        setModal(true);
        CreateControls();
        setFixedSize(DialogUnitsX(this, kDialogWidth) + m_nExtraWidth,
                     DialogUnitsY(this, kDialogHeight));
        ShowFields();
    }

    // OK: every control read back, in this order, then the dialog ends.
    void accept() override
    {
        m_fields.From = FromQt(EditText(210));
        m_fields.To = FromQt(EditText(211));
        m_fields.ShowDialog = Checked(206);
        m_fields.FilesOnly = Checked(207);
        m_fields.CreateDestDirectories = Checked(208);
        m_fields.Function = Checked(203) ? 1 : Checked(204) ? 2 : 3;
        m_fields.Server = FromQt(EditText(201));
        m_fields.Username = FromQt(EditText(202));
        m_fields.Password = FromQt(EditText(209));
        QDialog::accept();
    }

  private:
    void CreateControls()
    {
        auto* pRadios = new QButtonGroup(this);
        QWidget* pPreviousStop = nullptr;
        std::vector<QWidget*> frames;
        for (const TemplateControl& c : kTemplate)
        {
            QWidget* pControl = MakeControl(c, pRadios);
            if (c.Id != 0)
            {
                pControl->setObjectName(QString::number(c.Id));
                m_controls[c.Id] = pControl;
            }
            PlaceInDialogUnits(pControl, this, c.X, c.Y, c.Width, c.Height);
            // A text wider than its template box (another font than the template's) stays whole.
            if (c.What != Kind::Edit && c.What != Kind::Group)
                pControl->resize(std::max(pControl->width(), pControl->sizeHint().width()),
                                 pControl->height());
            if (c.What == Kind::Group || c.What == Kind::Static)
                frames.push_back(pControl);
            if (c.Buddy != 0)
                m_labels[c.Buddy] = static_cast<QLabel*>(pControl);
            if (c.TabStop)
            {
                if (pPreviousStop != nullptr)
                    setTabOrder(pPreviousStop, pControl);
                pPreviousStop = pControl;
            }
        }
        // Frames come late in the template but must not cover the controls inside them.
        for (QWidget* pFrame : frames)
            pFrame->lower();
        for (const TemplateControl& c : kTemplate)
            if (c.Buddy != 0)
                m_labels[c.Buddy]->setBuddy(m_controls.at(c.Buddy));
        // The password is masked; "Show" shows it while checked.
        auto* pPassword = static_cast<QLineEdit*>(m_controls.at(209));
        pPassword->setEchoMode(QLineEdit::Password);
        connect(static_cast<QCheckBox*>(m_controls.at(212)), &QCheckBox::toggled, pPassword,
                [pPassword](bool bShow)
                { pPassword->setEchoMode(bShow ? QLineEdit::Normal : QLineEdit::Password); });
        // A check box whose text is wider than the template's box (another font than the
        // template's) stays inside its frame: the frame grows to hold it, and the dialog with it.
        KeepInsideFrames();
    }

    void KeepInsideFrames()
    {
        const QList<QGroupBox*> groups = findChildren<QGroupBox*>();
        const int nWidth = DialogUnitsX(this, kDialogWidth);
        int nRight = nWidth;
        for (QGroupBox* pGroup : groups)
            for (const auto& [id, pControl] : m_controls)
            {
                const QRect frame = pGroup->geometry();
                const QRect inner = frame.adjusted(0, 0, -DialogUnitsX(this, 3), 0);
                if (!frame.contains(pControl->geometry().topLeft()) ||
                    inner.right() >= pControl->geometry().right())
                    continue;
                pGroup->resize(pControl->geometry().right() + DialogUnitsX(this, 4) - frame.left(),
                               frame.height());
                nRight = std::max(nRight, pGroup->geometry().right() + DialogUnitsX(this, 7));
            }
        m_nExtraWidth = nRight - nWidth;
    }

    QWidget* MakeControl(const TemplateControl& c, QButtonGroup* pRadios)
    {
        const QString text = QString::fromLatin1(c.Text);
        switch (c.What)
        {
        case Kind::DefaultButton:
        case Kind::Button:
        {
            auto* pButton = new QPushButton(text, this);
            pButton->setDefault(c.What == Kind::DefaultButton);
            pButton->setAutoDefault(true);
            connect(pButton, &QPushButton::clicked, this,
                    c.Id == 1 ? &QDialog::accept : &QDialog::reject);
            return pButton;
        }
        case Kind::Radio:
        {
            // The group is one Tab stop (the checked button); arrows move within it.
            auto* pRadio = new QRadioButton(text, this);
            pRadios->addButton(pRadio, c.Id);
            return pRadio;
        }
        case Kind::Check:
            return new QCheckBox(text, this);
        case Kind::Group:
            return new QGroupBox(text, this);
        case Kind::Edit:
        {
            auto* pEdit = new QLineEdit(this);
            pEdit->setFocusPolicy(Qt::StrongFocus);
            return pEdit;
        }
        case Kind::Static:
        {
            auto* pLabel = new QLabel(text, this);
            pLabel->setTextFormat(Qt::PlainText);
            return pLabel;
        }
        }
        return nullptr;
    }

    void ShowFields()
    {
        SetEditText(210, m_fields.From);
        SetEditText(211, m_fields.To);
        SetChecked(206, m_fields.ShowDialog != 0);
        SetChecked(207, m_fields.FilesOnly != 0);
        SetChecked(208, m_fields.CreateDestDirectories != 0);
        const int radio = m_fields.Function == 1 ? 203 : m_fields.Function == 2 ? 204 : 205;
        SetChecked(radio, true); // auto-exclusive: the other two are cleared
        SetEditText(201, m_fields.Server);
        SetEditText(202, m_fields.Username);
        SetEditText(209, m_fields.Password);
    }

    QString EditText(int id) const { return static_cast<QLineEdit*>(m_controls.at(id))->text(); }
    void SetEditText(int id, const std::u16string& text)
    {
        static_cast<QLineEdit*>(m_controls.at(id))->setText(ToQt(text));
    }
    LONG Checked(int id) const
    {
        return static_cast<QAbstractButton*>(m_controls.at(id))->isChecked() ? 1 : 0;
    }
    void SetChecked(int id, bool bChecked)
    {
        static_cast<QAbstractButton*>(m_controls.at(id))->setChecked(bChecked);
    }

    FileOperationFields& m_fields;
    std::map<int, QWidget*> m_controls;
    std::map<int, QLabel*> m_labels;
    int m_nExtraWidth = 0;

  public:
    int ExtraWidth() const { return m_nExtraWidth; }
};

} // namespace

HRESULT RunModally(QWidget* pOwner, FileOperationFields& fields)
{
    FileOperationFields edited = fields;
    CFileOperationDlg dialog(pOwner, edited);
    if (dialog.exec() != QDialog::Accepted)
        return S_FALSE;
    fields = edited;
    return S_OK;
}

} // namespace lanvex
