#include "importcontactsfromitunesthread.h"

#include "addressbookreader.h"
#include "localdb.h"
#include "progress.h"
#include "texts.h"
#include "workertransaction.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

// base + n × 50 ÷ count, truncated, for the two halves of the progress bar.
int halfPercent(int base, qint64 n, qint64 count)
{
    if (count <= 0)
        return base;
    return std::clamp(base + int(std::trunc(double(n) * 50.0 / double(count))), 0, 100);
}

} // namespace

ImportContactsFromiTunesThread::ImportContactsFromiTunesThread(const PBackupManifest &manifest, LocalDb *target,
                                                               ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_manifest(manifest), m_target(target), m_progress(progress)
{
}

ImportContactsFromiTunesThread::~ImportContactsFromiTunesThread() = default;

void ImportContactsFromiTunesThread::run()
{
    const ProgressReporter progress(m_progress);
    QList<pim::Contact> contacts;
    try {
        if (!readContacts(progress, contacts))
            return;
    } catch (const std::exception &e) {
        progress.errorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    writeContacts(progress, contacts);
}

bool ImportContactsFromiTunesThread::readContacts(const ProgressReporter &progress, QList<pim::Contact> &contacts)
{
    // A folder of our own (mode 0700) rather than names in the shared temporary folder: the copies hold the
    // whole address book in plain text, deciphered.
    QTemporaryDir temp(QDir(QDir::tempPath()).filePath(u"contact-mover-itunes-XXXXXX"_s));
    if (!temp.isValid())
        throw std::runtime_error(trKey("can not create %1. %2").arg(temp.path(), temp.errorString()).toStdString());
    // Declared after the folder, so the connections close before the folder and the copies go.
    const auto closeBoth = qScopeGuard([this] {
        m_addressBook.close();
        m_images.close();
    });

    const QString bookPath =
        temp.filePath(u"AddressBook-%1.sqlitedb"_s.arg(QDateTime::currentMSecsSinceEpoch()));
    if (const BackupManifest::FileRecord *record = m_manifest->addressBookRecord()) {
        QFile::remove(bookPath);
        m_manifest->extractFile(record, bookPath);
    }
    // Without an address book in the backup this open fails, and that is the import's error.
    m_addressBook.openThrow(bookPath, Sqlite3DB::OpenReadWrite);

    if (const BackupManifest::FileRecord *record = m_manifest->addressBookImagesRecord()) {
        const QString imagesPath =
            temp.filePath(u"AddressBookImages-%1.sqlitedb"_s.arg(QDateTime::currentMSecsSinceEpoch()));
        QFile::remove(imagesPath);
        m_manifest->extractFile(record, imagesPath);
        m_images.openThrow(imagesPath, Sqlite3DB::OpenReadWrite);
    }

    AddressBookReader reader(m_addressBook, &m_images);
    const int count = reader.start();
    const QString status = trKey("IDS_READING_CONTACTS_FROM_ITUNES");
    pim::Contact contact;
    for (int n = 1; n <= count; ++n) {
        if (progress.stopRequested())
            return false;
        progress.updateProgress(status, halfPercent(0, n, count), ProgressReporter::contactsText(n, count));
        if (!reader.readNext(contact))
            break;
        contacts.append(contact);
    }
    if (reader.skippedValues() != 0)
        qDebug("ImportContactsFromiTunesThread: %d values not imported", reader.skippedValues());
    return true;
}

void ImportContactsFromiTunesThread::writeContacts(const ProgressReporter &progress,
                                                   const QList<pim::Contact> &contacts)
{
    const qint64 total = contacts.size();
    qint64 saved = 0;
    qint64 merged = 0;
    WorkerTransaction transaction(m_target, "ImportContactsFromiTunesThread");
    try {
        transaction.begin();
        const QString status = trKey("IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB");
        for (const pim::Contact &contact : contacts) {
            if (progress.stopRequested()) {
                transaction.rollback();
                return;
            }
            ++saved;
            progress.updateProgress(status, halfPercent(50, saved, total),
                                    ProgressReporter::contactsText(saved, total));
            if (m_target->saveContactWithMerge(contact).merged)
                ++merged;
        }
        transaction.commit();
    } catch (const std::exception &e) {
        transaction.rollback();
        progress.errorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    if (merged != 0)
        progress.succeed(trKey("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES_%2_MERGED").arg(saved - merged).arg(merged));
    else
        progress.succeed(trKey("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES").arg(saved));
}
