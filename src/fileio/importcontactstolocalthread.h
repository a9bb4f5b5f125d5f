#pragma once

#include <QString>
#include <QThread>

class LocalDb;
class ProgressTarget;

// Reads a contact file into a local database, merging each contact into a stored namesake, in one
// transaction: a failure or a cancel rolls everything back, so the database is as it was before.
class ImportContactsToLocalThread : public QThread
{
    Q_OBJECT
public:
    // kind: fileio::ImportKind. The database and the progress target are borrowed and must outlive the
    // thread.
    ImportContactsToLocalThread(const QString &path, int kind, LocalDb *target, ProgressTarget *progress,
                                QObject *parent = nullptr);

protected:
    void run() override;

private:
    QString m_path;
    int m_kind;
    LocalDb *m_target;
    ProgressTarget *m_progress;
};
