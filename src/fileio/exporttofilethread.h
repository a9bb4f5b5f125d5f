#pragma once

#include "pim.h"

#include <QList>
#include <QString>
#include <QThread>

class ProgressTarget;

// Writes contacts to a file with the exporter of a kind, contact by contact. The file is written beside its
// target and put in place only when complete: a cancelled or failed export leaves no new file and leaves a
// file that was there before untouched.
class ExportToFileThread : public QThread
{
    Q_OBJECT
public:
    // kind: fileio::ExportKind. The progress target is borrowed and must outlive the thread.
    ExportToFileThread(QList<pim::Contact> contacts, int kind, const QString &path, ProgressTarget *progress,
                       QObject *parent = nullptr);

protected:
    void run() override;

private:
    QList<pim::Contact> m_contacts;
    int m_kind;
    QString m_path;
    ProgressTarget *m_progress;
};
