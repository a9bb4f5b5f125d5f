#pragma once

#include "backupmanifest.h"

#include <QString>
#include <QThread>

#include <atomic>

class ProgressTarget;

// Checks a backup password on a worker thread (the key derivation of newer backups takes seconds): tells the
// manifest the password and, for newer backups, lets it decipher Manifest.db. The result is read after the
// thread has ended.
class IOSiTunesBKSetPasswordThread : public QThread
{
    Q_OBJECT
public:
    // The progress target is borrowed and outlives the thread.
    IOSiTunesBKSetPasswordThread(const PBackupManifest &manifest, const QString &password, ProgressTarget *progress,
                                 QObject *parent = nullptr);

    // True when the manifest accepted the password; false until the check has returned.
    bool result() const { return m_result.load(); }

protected:
    void run() override;

private:
    PBackupManifest m_manifest;
    QString m_password;
    ProgressTarget *m_progress;
    std::atomic<bool> m_result{false};
};
