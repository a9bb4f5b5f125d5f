#pragma once

#include "itunes/backupmanifest.h"

#include <QDialog>
#include <QString>

class QLineEdit;

// Asks for the password of an encrypted backup and checks it on a worker thread behind the progress dialog;
// accepted only with a password the backup takes.
class PasscodeDlg : public QDialog
{
    Q_OBJECT
public:
    PasscodeDlg(const PBackupManifest &manifest, QWidget *parent = nullptr);
    ~PasscodeDlg() override;

    // The accepted password; empty before that.
    QString password() const { return m_password; }

    // Runs the dialog modally, or headless when answers are queued (below).
    int exec() override;

    // Headless runs (tests, scripted window flows): while answers are queued, exec() shows no dialog. Each answer
    // is typed into the field and confirmed with OK, as a user retries after a refusal; a null text, or running
    // out of answers, cancels.
    static void queueAnswer(const QString &password);

public Q_SLOTS:
    void btnOKPressed();

private:
    PBackupManifest m_manifest;
    QLineEdit *m_txtPasscode;
    QString m_password;
};
