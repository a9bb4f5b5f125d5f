#pragma once

#include "fileio/absimport.h"
#include "fileio/vcard.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

// Importer kind 1: a vCard file, every card a record.
//
// The cards are counted when the file is opened, then turned into contacts by a reader thread a little ahead of
// next(). Both passes read the file a piece at a time: a piece, the card in progress and a few hundred contacts
// are held at a time, whatever the size of the file.
class VCardImport : public AbsImport
{
public:
    VCardImport() = default;
    ~VCardImport() override;
    VCardImport(const VCardImport &) = delete;
    VCardImport &operator=(const VCardImport &) = delete;

    // Reads the whole file and counts its cards; a malformed line costs that line only.
    void open(const QString &path) override;
    int count() const override { return int(m_count); }
    bool hasNext() const override { return m_taken < m_count; }
    void next(pim::Contact &out) override;
    // Stops the reader thread (also on cancel).
    void close() override;
    int skippedLines() const override { return m_skippedLines; }

private:
    void readAhead();

    QString m_path;
    qsizetype m_count = 0;
    qsizetype m_taken = 0;
    int m_skippedLines = 0;

    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<pim::Contact> m_ready;
    bool m_readerDone = false;
    bool m_stop = false;
    std::exception_ptr m_error;
};
