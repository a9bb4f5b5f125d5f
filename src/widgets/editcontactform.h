#pragma once

#include "contacts/pim.h"

#include <QDialog>

#include <functional>

class AbsContactCombineRule;
class ContactEditor;
class LocalDb;
class QLabel;
class QPushButton;

// The modal dialog in which the user creates or edits a contact. Apply checks the name (and, for a new contact,
// that no stored contact has the same display name) before it accepts; the caller then asks for the change
// records and applies them.
class EditContactForm : public QDialog
{
    Q_OBJECT
public:
    // Shows a warning; the window hands in its own message box, the plain Qt box is used otherwise.
    using WarningHandler = std::function<void(const QString &text)>;
    // Asks a yes/no question; true for yes.
    using QuestionHandler = std::function<bool(const QString &text)>;
    // A scripted edit for headless runs: changes the editor's fields as a user would.
    using ScriptedEdit = std::function<void(ContactEditor &editor)>;

    // The contact to edit, or an empty one to create; the database is given only for a new contact, for the
    // duplicate-name check.
    EditContactForm(const pim::Contact &contact, LocalDb *database, QWidget *parent = nullptr);
    ~EditContactForm() override;

    ContactEditor *editor() const { return m_wdEditContact; }
    QString title() const;
    // The change records that turn the stored contact into the edited one, by the place's duplicate rule.
    QList<pim::ChangeRecord> getChanges(const AbsContactCombineRule &rule, const pim::Contact &stored) const;

    void setWarningHandler(WarningHandler handler) { m_warning = std::move(handler); }
    void setQuestionHandler(QuestionHandler handler) { m_question = std::move(handler); }

    // Runs the dialog modally, or headless when edits are queued (below).
    int exec() override;
    // Headless runs (tests, scripted window flows): while edits are queued, exec() shows no dialog. Each edit is
    // applied to the editor and "Apply" pressed, as a user corrects the form after a warning; a null edit, or
    // running out of edits, cancels.
    static void queueAnswer(const ScriptedEdit &edit);

public Q_SLOTS:
    void onBtnSavePressed();
    void onBtnCancelPressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void warn(const QString &text);

    QLabel *m_lbTitle;
    ContactEditor *m_wdEditContact;
    QPushButton *m_btnSave;
    QPushButton *m_btnCancel;
    LocalDb *m_database;
    WarningHandler m_warning;
    QuestionHandler m_question;
};
