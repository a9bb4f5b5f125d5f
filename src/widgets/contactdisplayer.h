#pragma once

#include "contacts/pim.h"

#include <QScrollArea>

#include <functional>

class QLabel;
class QVBoxLayout;

// The read-only view of one contact: the photo, the name block, then one section per kind of data row.
// Clicking the photo saves its bytes to a file the user names.
class ContactDisplayer : public QScrollArea
{
    Q_OBJECT
public:
    // Asks the user for the file to save the photo to, proposing a full path; an empty answer means cancelled.
    using SaveFileNameHandler = std::function<QString(const QString &proposedPath)>;
    // Shows a warning. The text is rich text ready for the program's message box: a file error, HTML-escaped.
    using WarningHandler = std::function<void(const QString &text)>;

    explicit ContactDisplayer(QWidget *parent = nullptr);

    // Drops the shown contact and its content.
    void clear();
    // Rebuilds the whole content for this contact.
    void setContact(const pim::Contact &contact);
    const pim::Contact &contact() const { return m_contact; }

    // The window installs its own file dialog and message box here; without them the plain Qt dialogs are used.
    void setSaveFileNameHandler(SaveFileNameHandler handler) { m_saveFileName = std::move(handler); }
    void setWarningHandler(WarningHandler handler) { m_warning = std::move(handler); }

    // The text of one row in its section ("Mobile:555-0100", "<b>Home</b><br/>1 Main St" …). Rich text only for
    // addresses, with every contact value HTML-escaped; the other rows are plain text.
    static QString rowText(int type, const pim::DataRow &row);
    static bool isRichTextRow(int type) { return type == pim::ENTITY_ADDRESS; }
    // The event date of a row, or an invalid date when data1 holds none: an ISO 8601 date or date-time in the
    // extended (1980-02-29) or basic (19800229) form, or a date value put there by a reader.
    static QDate eventDate(const pim::DataRow &row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void newContent();
    void installContent();
    QWidget *createHeader();
    QString nameBlockText() const;
    void addSection(int type, const QString &caption, const QList<pim::DataRow> &rows);
    void fitContentWidth();
    void savePhoto();

    pim::Contact m_contact;
    QWidget *m_content = nullptr;
    QVBoxLayout *m_layout = nullptr;
    SaveFileNameHandler m_saveFileName;
    WarningHandler m_warning;
};
