#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class LocalDb;
class QComboBox;
class QLabel;
class QPushButton;

// Picks the group for the selected contacts: one of the database's groups or the name of a new one. Accepted with
// an empty name (after the user confirmed) means: take the contacts out of their groups.
class GroupForm : public QDialog
{
    Q_OBJECT
public:
    // Asks a yes/no question; true for yes. The window hands in its own message box.
    using QuestionHandler = std::function<bool(const QString &text)>;

    // Lists the database's groups; storage errors propagate.
    GroupForm(LocalDb *database, QWidget *parent = nullptr);
    ~GroupForm() override;

    // Once accepted: the group's name as stored for an existing group, the typed name for a new one, empty for
    // none; and the group's id, 0 when it does not exist yet.
    const QString &groupName() const { return m_groupName; }
    qint64 groupId() const { return m_groupId; }

    void setQuestionHandler(QuestionHandler handler) { m_question = std::move(handler); }

    // Runs the dialog modally, or headless when answers are queued (below).
    int exec() override;
    // Headless runs (tests, scripted window flows): while answers are queued, exec() shows no dialog. Each answer
    // is typed into the combo box and "OK" pressed; a null text, or running out of answers, cancels.
    static void queueAnswer(const QString &text);

public Q_SLOTS:
    void onBtnOKPressed();

private:
    QLabel *m_label;
    QComboBox *m_cbGroups;
    QPushButton *m_btnOK;
    QPushButton *m_btnCancel;
    QString m_groupName;
    qint64 m_groupId = 0;
    QuestionHandler m_question;
};
