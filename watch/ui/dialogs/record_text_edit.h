// Editing a fixed-width text field of a record in a line edit without cutting or corrupting it.
#pragma once

#include <QString>
#include <QValidator>

#include <cstddef>
#include <string>
#include <string_view>

class QLineEdit;

// Refuses any edit that would make the text longer than the field can hold (its width less the
// terminator, counted in UTF-8 bytes), so nothing typed is cut later without the user seeing it.
class CFieldLengthValidator : public QValidator
{
    Q_OBJECT
  public:
    CFieldLengthValidator(std::size_t capacity, QObject* parent);
    State validate(QString& input, int& pos) const override;
    std::size_t Capacity() const { return m_capacity; }

  private:
    std::size_t m_capacity;
};

// The bytes of one record text field as a page member. The bytes are kept as they came from the
// record until the user changes the text, so a field the user leaves alone goes back untouched
// even when it holds bytes that are not UTF-8.
class CRecordText
{
  public:
    explicit CRecordText(std::size_t capacity) : m_capacity(capacity) {}

    // Takes the field's text (up to its terminator, or its whole width without one).
    void Assign(std::string_view bytes);
    // Puts the text into the edit, cut to the capacity on a character boundary if it must be.
    void Load(QLineEdit* edit);
    // Takes the edit's text if the user changed what Load put there.
    void Store(const QLineEdit* edit);

    bool Changed() const { return m_changed; }
    const std::string& Bytes() const { return m_bytes; }

  private:
    std::size_t m_capacity;
    std::string m_bytes;
    QString m_shown;
    bool m_shownValid = false;
    bool m_changed = false;
};

// Gives the edit a CFieldLengthValidator for a field of width bytes (capacity width - 1).
void LimitToField(QLineEdit* edit, std::size_t width);
