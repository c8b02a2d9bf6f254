// Editing a fixed-width text field of a record in a line edit without cutting or corrupting it.
#include "watch/ui/dialogs/record_text_edit.h"

#include "watch/engine/text_field.h"

#include <QLineEdit>

CFieldLengthValidator::CFieldLengthValidator(std::size_t capacity, QObject* parent)
    : QValidator(parent), m_capacity(capacity)
{
}

QValidator::State CFieldLengthValidator::validate(QString& input, int&) const
{
    return static_cast<std::size_t>(input.toUtf8().size()) <= m_capacity ? Acceptable : Invalid;
}

void CRecordText::Assign(std::string_view bytes)
{
    m_bytes.assign(bytes.data(), bytes.size());
    m_shownValid = false;
    m_changed = false;
}

void CRecordText::Load(QLineEdit* edit)
{
    if (!m_shownValid)
    {
        // A field without a terminator, or with bytes that widen when shown, must still fit the
        // edit's limit, or the user could no longer change it.
        const QByteArray utf8 =
            QString::fromUtf8(m_bytes.data(), static_cast<qsizetype>(m_bytes.size())).toUtf8();
        const std::string_view view(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        const std::size_t fit = Utf8FitLength(view, m_capacity);
        m_shown = QString::fromUtf8(utf8.constData(), static_cast<qsizetype>(fit));
        m_shownValid = true;
    }
    edit->setText(m_shown);
}

void CRecordText::Store(const QLineEdit* edit)
{
    const QString text = edit->text();
    if (m_shownValid && text == m_shown)
        return;
    const QByteArray utf8 = text.toUtf8();
    m_bytes.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    m_shown = text;
    m_shownValid = true;
    m_changed = true;
}

void LimitToField(QLineEdit* edit, std::size_t width)
{
    edit->setValidator(new CFieldLengthValidator(width - 1, edit));
}
