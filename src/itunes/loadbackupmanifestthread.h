#pragma once

#include "itunes/backupmanifest.h"

#include <QThread>

class ProgressTarget;

// Reads a backup's file table (BackupManifest::load) off the caller's thread, telling its progress: a table of
// millions of rows takes seconds. Succeeds with an empty text (no box to show); a damaged table is an error with
// the reader's message; a cancel ends the read and leaves the manifest unloaded.
class LoadBackupManifestThread : public QThread
{
    Q_OBJECT
public:
    // The manifest and the progress target are borrowed and outlive the thread.
    LoadBackupManifestThread(const PBackupManifest &manifest, ProgressTarget *progress, QObject *parent = nullptr);

protected:
    void run() override;

private:
    PBackupManifest m_manifest;
    ProgressTarget *m_progress;
};
