#include "itunes/importcontactsfromitunesthread.h"

#include "contacts/localdb.h"
#include "contacts/workertransaction.h"
#include "core/privatetemp.h"
#include "core/progress.h"
#include "core/texts.h"
#include "itunes/addressbookreader.h"
#include "itunes/log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

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

// The longest value read from an address book: photos are a few megabytes at most.
constexpr int kMaxValueBytes = 64 * 1024 * 1024;
// What reading an address book may cost in SQLite steps: far more than any real one needs (a few hundred per
// byte), far less than a query made to run for ever.
constexpr qint64 kMinStepBudget = 500'000'000;
constexpr qint64 kStepsPerByte = 5000;

// Opens a private copy of an address-book database and checks that the tables read are plain tables with the
// columns read: the file's own SQL (views, computed columns) never runs, and a cancel interrupts any statement.
void openCopy(Sqlite3DB &db, const QString &path, const ProgressReporter &progress,
              const QList<QPair<QString, QStringList>> &tables)
{
    db.setProgressHandler([progress] { return progress.stopRequested(); });
    db.openThrow(path, Sqlite3DB::OpenReadWrite);
    db.setLengthLimit(kMaxValueBytes);
    db.setStepBudget(kMinStepBudget + kStepsPerByte * QFileInfo(path).size());
    for (const auto &[table, columns] : tables)
        db.checkTable(table, columns);
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
    QString photoNote;
    try {
        if (!readContacts(progress, contacts, photoNote))
            return;
    } catch (const std::exception &e) {
        // A statement stopped by the cancel ends as the cancel, not as an error.
        if (!progress.stopRequested())
            progress.errorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    writeContacts(progress, contacts, photoNote);
}

bool ImportContactsFromiTunesThread::readContacts(const ProgressReporter &progress, QList<pim::Contact> &contacts,
                                                  QString &photoNote)
{
    // A folder of our own inside the data folder (owner-only, removed on every way out, also by the command line
    // tool's second Ctrl-C) rather than the shared temporary folder: the copies hold the whole address book in
    // plain text, deciphered.
    PrivateTempDir temp(u"itunes"_s);
    if (!temp.isValid())
        throw std::runtime_error(
            trKey("can not create %1. %2").arg(PrivateTempDir::parentFolder(), temp.errorString()).toStdString());
    // Declared after the folder, so the connections close before the folder and the copies go.
    const auto closeBoth = qScopeGuard([this] {
        m_addressBook.close();
        m_images.close();
    });

    const QString bookPath = temp.filePath(u"AddressBook.sqlitedb"_s);
    if (const BackupManifest::FileRecord *record = m_manifest->addressBookRecord())
        m_manifest->extractFile(record, bookPath);
    // Without an address book in the backup this open fails, and that is the import's error.
    openCopy(m_addressBook, bookPath, progress,
             {{u"ABPerson"_s,
               {u"First"_s, u"Last"_s, u"Middle"_s, u"Prefix"_s, u"Suffix"_s, u"Organization"_s, u"Department"_s,
                u"JobTitle"_s, u"Note"_s, u"Birthday"_s, u"Nickname"_s}},
              {u"ABMultiValue"_s, {u"UID"_s, u"property"_s, u"value"_s, u"label"_s, u"record_id"_s}},
              {u"ABMultiValueLabel"_s, {u"value"_s}},
              {u"ABMultiValueEntry"_s, {u"value"_s, u"key"_s, u"parent_id"_s}},
              {u"ABMultiValueEntryKey"_s, {u"value"_s}}});

    // Photos are an extra: an images database that is empty, damaged or not what it should be costs the photos,
    // not the contacts.
    if (const BackupManifest::FileRecord *record = m_manifest->addressBookImagesRecord()) {
        try {
            const QString imagesPath = temp.filePath(u"AddressBookImages.sqlitedb"_s);
            m_manifest->extractFile(record, imagesPath);
            openCopy(m_images, imagesPath, progress, {{u"ABFullSizeImage"_s, {u"record_id"_s, u"data"_s}}});
        } catch (const std::exception &e) {
            if (progress.stopRequested())
                return false;
            m_images.close();
            photoNote = trKey("IDS_ITUNES_PHOTOS_NOT_IMPORTED_%1").arg(QString::fromUtf8(e.what()));
            qCDebug(lcItunes, "ImportContactsFromiTunesThread: %s", qPrintable(photoNote));
        }
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
        qCDebug(lcItunes, "ImportContactsFromiTunesThread: %d values not imported", reader.skippedValues());
    if (reader.skippedPhotos() != 0)
        photoNote = trKey("IDS_ITUNES_%1_PHOTOS_SKIPPED").arg(reader.skippedPhotos());
    return true;
}

void ImportContactsFromiTunesThread::writeContacts(const ProgressReporter &progress,
                                                   const QList<pim::Contact> &contacts, const QString &photoNote)
{
    const qint64 total = contacts.size();
    qint64 saved = 0;
    qint64 merged = 0;
    WorkerTransaction transaction(m_target, "ImportContactsFromiTunesThread");
    try {
        transaction.begin();
        const QString status = trKey("IDS_WRITING_CONTACTS_FROM_ITUNES_TO_LOCALDB");
        // A contact of many thousand rows hears the cancel between its rows, not only after it.
        const auto cancelled = [&progress] { return progress.stopRequested(); };
        for (const pim::Contact &contact : contacts) {
            if (progress.stopRequested()) {
                transaction.rollback();
                return;
            }
            ++saved;
            progress.updateProgress(status, halfPercent(50, saved, total),
                                    ProgressReporter::contactsText(saved, total));
            if (m_target->saveContactWithMerge(contact, cancelled).merged)
                ++merged;
        }
        transaction.commit();
    } catch (const LocalDb::MergeCancelled &) {
        transaction.rollback();
        return;
    } catch (const std::exception &e) {
        transaction.rollback();
        progress.errorOccurred(QString::fromUtf8(e.what()));
        return;
    }
    QString text = merged != 0
                       ? trKey("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES_%2_MERGED").arg(saved - merged).arg(merged)
                       : trKey("IDS_SUC_IMPORT_%1_CONTACTS_FROM_ITUNES").arg(saved);
    if (!photoNote.isEmpty())
        text += u'\n' + photoNote;
    progress.succeed(text);
}
