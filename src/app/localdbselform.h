#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QPushButton;

// Asks which local database to write into: one of the "*.db" files of the data folder's "data" sub-folder, or
// a new name. The result is a file name in that folder, ".db" appended; the caller opens or creates it.
class LocalDbSelForm : public QDialog
{
    Q_OBJECT
public:
    // The suggested name, when not empty, is the combo box's edit text. The title says what the database is
    // for; without one it is the backup's.
    LocalDbSelForm(QWidget *parent, const QString &suggestedName, const QString &title = QString());

    // The chosen file name once accepted; empty before that and after Cancel.
    const QString &selectedFileName() const { return m_fileName; }

    // Runs the dialog modally, or headless when answers are queued (below).
    int exec() override;

    // Headless runs (tests, scripted window flows): while answers are queued, exec() shows no dialog. Each
    // answer is typed into the combo box and confirmed, as a user retries after a warning; a null text, or
    // running out of answers, cancels.
    static void queueAnswer(const QString &text);

public Q_SLOTS:
    void onBtnOkPress();

private:
    QComboBox *m_cbLocalDbNames;
    QPushButton *m_btnOK;
    QString m_fileName;
};
