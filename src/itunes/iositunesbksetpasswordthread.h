#pragma once

#include "itunes/backupmanifest.h"

#include <QString>
#include <QThread>

#include <atomic>

class ProgressTarget;

// Checks a backup password on a worker thread (the key derivation of newer backups takes seconds): tells the
// manifest the password and, for newer backups, lets it decipher Manifest.db. The result is read after the
// thread has ended. The cancel of the progress target stops the derivation within a fraction of a second.
class IOSiTunesBKSetPasswordThread : public QThread
{
    Q_OBJECT
public:
    // The progress target is borrowed and outlives the thread.
    IOSiTunesBKSetPasswordThread(const PBackupManifest &manifest, const QString &password, ProgressTarget *progress,
                                 QObject *parent = nullptr);

    enum class Outcome { Running, Accepted, Refused, Failed, Cancelled };
    // True when the manifest accepted the password; false until the check has returned.
    bool result() const { return m_outcome.load() == Outcome::Accepted; }
    // Refused is a wrong password; Failed a damaged backup (the error went to the progress target).
    Outcome outcome() const { return m_outcome.load(); }

protected:
    void run() override;

private:
    PBackupManifest m_manifest;
    QString m_password;
    ProgressTarget *m_progress;
    std::atomic<Outcome> m_outcome{Outcome::Running};
};
