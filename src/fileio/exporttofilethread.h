#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QString>
#include <QThread>

#include <functional>
#include <span>

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

    // Fills the rows of contacts given without them (LocalDb::readContactRows).
    using RowReader = std::function<void(std::span<pim::Contact>)>;
    // For contacts given without their rows: they are read a batch at a time, written and dropped, so that only
    // one batch is held (twice over for the column exports, whose header depends on every contact). The reader
    // runs on the worker's thread.
    void readRowsInBatches(const RowReader &reader) { m_readRows = reader; }

protected:
    void run() override;

private:
    QList<pim::Contact> m_contacts;
    RowReader m_readRows;
    int m_kind;
    QString m_path;
    ProgressTarget *m_progress;
};
