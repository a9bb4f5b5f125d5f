// The address-book import worker on hand-made backups whose address books hold exactly the cases under test:
// person and multi-value mapping, labels, dates, addresses and IM accounts, photos, progress, merging, damaged
// input, cancelling, and the temporary copies (never left behind).

#include "cancelafterchecks.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/privatetemp.h"
#include "core/progress.h"
#include "core/texts.h"
#include "itunes/backupmanifest.h"
#include "itunes/importcontactsfromitunesthread.h"
#include "itunestesthelpers.h"
#include "sqlite_qt/sqlite_qt.h"
#include "temphome.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <ctime>

using namespace Qt::StringLiterals;
using namespace itunesfx;

namespace {

const char *const kAddressBookSchema[] = {
    "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, Middle TEXT, "
    "Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname TEXT, "
    "Prefix TEXT, Suffix TEXT)",
    "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, identifier INTEGER, "
    "label INTEGER, value TEXT, guid TEXT)",
    "CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value))",
    "CREATE TABLE ABMultiValueEntry (parent_id INTEGER, key INTEGER, value TEXT, UNIQUE(parent_id, key))",
    "CREATE TABLE ABMultiValueEntryKey (value TEXT, UNIQUE(value))",
    "CREATE INDEX ABMultiValueRecordIDIndex ON ABMultiValue(record_id)",
};

// A plain (unencrypted) Manifest.mbdb backup holding the given address-book files.
class HandMadeBackup
{
public:
    HandMadeBackup()
    {
        QVERIFY(writeFile(m_dir.filePath(u"Manifest.plist"_s),
                          manifestPlist(u"udid-1"_s, u"Test Phone"_s, QDateTime::currentDateTimeUtc())));
    }
    QString folder() const { return m_dir.path(); }

    // Runs statements on a new database file that the backup stores under the relative path.
    void addDatabase(const char *relativePath, const QStringList &statements)
    {
        const QString path = m_dir.filePath(u"work.sqlite"_s);
        {
            Sqlite3DB db;
            db.openThrow(path, Sqlite3DB::OpenReadWrite | Sqlite3DB::OpenCreate);
            for (const QString &sql : statements)
                db.executeThrow(Sqlite3Sql(sql));
        }
        addFile(relativePath, readFile(path));
        QFile::remove(path);
    }
    void addFile(const char *relativePath, const QByteArray &bytes)
    {
        MbdbRecord r;
        r.domain = "HomeDomain";
        r.path = relativePath;
        r.size = quint64(bytes.size());
        m_records += mbdbRecord(r);
        QVERIFY(
            writeFile(m_dir.filePath(BackupManifest::fileId(u"HomeDomain"_s, QString::fromUtf8(relativePath))), bytes));
        QVERIFY(writeFile(m_dir.filePath(u"Manifest.mbdb"_s), QByteArray("mbdb\x05\x00", 6) + m_records));
    }
    void addAddressBook(const QStringList &statements)
    {
        QStringList all;
        for (const char *s : kAddressBookSchema)
            all << QString::fromLatin1(s);
        addDatabase("Library/AddressBook/AddressBook.sqlitedb", all + statements);
    }

    PBackupManifest loaded() const
    {
        PBackupManifest m(new BackupManifest(folder()));
        m->readInfo();
        m->load();
        return m;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_records;
};

// "insert into ABPerson (First, Last) values ('Anna','Berg')" and the like, for a list of (first, last).
QStringList persons(const QList<QPair<QString, QString>> &names)
{
    QStringList out;
    for (const auto &[first, last] : names)
        out << u"insert into ABPerson (First, Last) values (%1, %2)"_s.arg(
            first.isNull() ? u"NULL"_s : u"'"_s + first + u"'"_s, last.isNull() ? u"NULL"_s : u"'"_s + last + u"'"_s);
    return out;
}

QString col(const pim::Contact &c, int type, const char *column, int index = 0)
{
    return c.rows(type).value(index).text(QLatin1String(column));
}

} // namespace

class TestAddressBookImport : public QObject
{
    Q_OBJECT

    TempHome m_home; // the worker's private folders live in its data folder
    QTemporaryDir m_dbDir;
    QTemporaryDir m_tmp; // TMPDIR: nothing may arrive here either
    int m_n = 0;

    std::unique_ptr<LocalDb> newDb()
    {
        auto db = std::make_unique<LocalDb>(m_dbDir.filePath(u"db%1.db"_s.arg(++m_n)),
                                            PContactCombineRule(new LocalDbCombineRule));
        db->createFromTemplate();
        return db;
    }

    // Runs the worker to its end and lets the queued posts arrive.
    static void runToEnd(ImportContactsFromiTunesThread &worker, ProgressObject &progress, bool expectEnd = true)
    {
        QSignalSpy finished(&worker, &QThread::finished);
        worker.start();
        QVERIFY(finished.wait(30000));
        QCoreApplication::sendPostedEvents(&progress);
        if (expectEnd)
            QTRY_VERIFY(progress.outcome() != ProgressObject::Outcome::Running);
    }

    QStringList leftInTemp() const
    {
        return QDir(m_tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) +
               QDir(PrivateTempDir::parentFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QList<pim::Contact> import(const HandMadeBackup &backup, LocalDb &db, QString *message = nullptr)
    {
        ProgressObject progress;
        ImportContactsFromiTunesThread worker(backup.loaded(), &db, &progress);
        runToEnd(worker, progress);
        if (message)
            *message = progress.message();
        if (progress.outcome() != ProgressObject::Outcome::Succeeded)
            qWarning("import failed: %s", qPrintable(progress.message()));
        return db.listContacts(0, QString());
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Dates are shown in local time: a fixed zone nine hours east of UTC, without summer time.
        qputenv("TZ", "JST-9");
        tzset();
        qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
        QVERIFY(installEnglishTranslation(*QCoreApplication::instance()));
    }

    void init() { QVERIFY(leftInTemp().isEmpty()); }
    // Every run, whatever its end, leaves nothing in the temporary folder.
    void cleanup() { QCOMPARE(leftInTemp(), QStringList()); }

    void mapsPersons()
    {
        HandMadeBackup backup;
        backup.addAddressBook({
            // 1: every name part, organization, note, nickname, a birthday before 2001.
            u"insert into ABPerson (First, Last, Middle, Prefix, Suffix, Organization, Department, JobTitle, Note, "
            "Nickname, Birthday) values ('Ada','Lovelace','King','Lady','Jr','Engines','Research','Programmer',"
            "'First programmer','Ada L','-5839992000')"_s,
            // 2: no name at all, NULL in every column.
            u"insert into ABPerson (First) values (NULL)"_s,
            // 3: only a family name; a birthday of 0 (2001-01-01) and one that is not a number.
            u"insert into ABPerson (Last, Birthday, JobTitle) values ('Hopper', '0', 'Admiral')"_s,
            u"insert into ABPerson (First, Birthday) values ('Zed', 'soon')"_s,
            u"insert into ABPerson (First, Birthday) values ('Fractional', '289396800.75')"_s,
        });
        auto db = newDb();
        QString message;
        const QList<pim::Contact> contacts = import(backup, *db, &message);
        QCOMPARE(message, u"Successfully imported 5 contacts from iTunes Backup."_s);
        QCOMPARE(contacts.size(), 5);
        // Sorted by name: the nameless one first.
        const pim::Contact &nameless = contacts[0];
        QCOMPARE(nameless.full_name, QString());
        QVERIFY(nameless.hasRows(pim::ENTITY_NAME));
        QCOMPARE(col(nameless, pim::ENTITY_NAME, "data2"), QString());
        QCOMPARE(nameless.rowCount(), 1);

        const pim::Contact &fractional = contacts[1];
        QCOMPARE(col(fractional, pim::ENTITY_EVENT, "data1"), u"2010-03-04T21:00:00"_s);

        const pim::Contact &hopper = contacts[2];
        QCOMPARE(hopper.full_name, u"Hopper"_s);
        QCOMPARE(col(hopper, pim::ENTITY_EVENT, "data1"), u"2001-01-01T09:00:00"_s);
        // A job title alone makes an organization row.
        QCOMPARE(col(hopper, pim::ENTITY_ORGANIZATION, "data4"), u"Admiral"_s);

        const pim::Contact &ada = contacts[3];
        QCOMPARE(ada.full_name, u"Lady Ada King Lovelace Jr"_s);
        QCOMPARE(col(ada, pim::ENTITY_NAME, "data1"), u"Lady Ada King Lovelace Jr"_s);
        QCOMPARE(col(ada, pim::ENTITY_NAME, "data4"), u"King"_s);
        QCOMPARE(col(ada, pim::ENTITY_ORGANIZATION, "data1"), u"Engines"_s);
        QCOMPARE(col(ada, pim::ENTITY_ORGANIZATION, "data5"), u"Research"_s);
        QCOMPARE(col(ada, pim::ENTITY_ORGANIZATION, "data4"), u"Programmer"_s);
        QCOMPARE(col(ada, pim::ENTITY_NOTE, "data1"), u"First programmer"_s);
        QCOMPARE(col(ada, pim::ENTITY_NICKNAME, "data1"), u"Ada L"_s);
        // Noon UTC on 1815-12-10 is nine in the evening here.
        QCOMPARE(col(ada, pim::ENTITY_EVENT, "data1"), u"1815-12-10T21:00:00"_s);
        QCOMPARE(col(ada, pim::ENTITY_EVENT, "data2"), u"3"_s);

        QCOMPARE(contacts[4].full_name, u"Zed"_s);
        QVERIFY(!contacts[4].hasRows(pim::ENTITY_EVENT));
    }

    void mapsMultiValues()
    {
        HandMadeBackup backup;
        QStringList sql = persons({{u"Ada"_s, u"Lovelace"_s}, {u"Grace"_s, QString()}});
        sql << u"insert into ABMultiValueLabel (rowid, value) values (1,'_$!<Mobile>!$_'), (2,'TextNow'), "
               "(3,'_$!<Other>!$_'), (4,'_$!<Work>!$_'), (5,'_$!<Home>!$_'), (6,'_$!<Anniversary>!$_'), "
               "(7,'_$!<HomePage>!$_'), (8,'_$!<Mother>!$_'), (9,'_$!<iPhone>!$_'), (10, NULL)"_s
            << u"insert into ABMultiValueEntryKey (rowid, value) values (1,'Street'), (2,'City'), (3,'ZIP'), "
               "(4,'CountryCode'), (5,'service'), (6,'username'), (7,'State'), (8,'Country')"_s
            // Phones: system label, custom label, Other, no label, a label whose row is gone, a NULL label text,
            // a system label our table lacks.
            << u"insert into ABMultiValue (UID, record_id, property, label, value) values "
               "(1,1,3,1,'+1 555 0001'), (2,1,3,2,'+1 555 0002'), (3,1,3,3,'+1 555 0003'), (4,1,3,NULL,'+1 555 0004'), "
               "(5,1,3,99,'+1 555 0005'), (6,1,3,10,'+1 555 0006'), (7,1,3,9,'+1 555 0007')"_s
            << u"insert into ABMultiValue (UID, record_id, property, label, value) values (8,2,3,1,'+1 555 9999')"_s
            << u"insert into ABMultiValue (UID, record_id, property, label, value) values "
               "(10,1,4,4,'ada@work.example'), (11,1,4,NULL,'ada@example.org'), "
               "(12,1,5,5,''), (13,1,13,4,''), (14,1,13,NULL,''), "
               "(15,1,12,6,'0'), (16,1,12,NULL,NULL), (17,1,22,7,'https://ada.example'), (18,1,23,8,'Anne'), "
               "(19,1,46,NULL,'x-social'), (20,1,NULL,NULL,'no property'), "
               "(22,3,3,1,'+1 555 8888'), (23,NULL,3,1,'+1 555 7777')"_s
            << u"insert into ABMultiValueEntry (parent_id, key, value) values (12,1,'12 St James''s Sq'), "
               "(12,2,'London'), (12,3,'SW1Y 4LB'), (12,4,'gb'), (13,5,'Skype'), (13,6,'ada.l'), "
               "(14,5,'Signal'), (14,6,'+1 555 0100'), (14,77,'orphan key')"_s;
        backup.addAddressBook(sql);
        auto db = newDb();
        const QList<pim::Contact> contacts = import(backup, *db);
        QCOMPARE(contacts.size(), 2);
        const pim::Contact &ada = contacts.first();
        // Grace's phone was stored before Ada's last values: each value goes to its own person.
        QCOMPARE(contacts[1].full_name, u"Grace"_s);
        QCOMPARE(contacts[1].rows(pim::ENTITY_PHONE).size(), 1);
        QCOMPARE(col(contacts[1], pim::ENTITY_PHONE, "data1"), u"+1 555 9999"_s);

        const QList<pim::DataRow> phones = ada.rows(pim::ENTITY_PHONE);
        QCOMPARE(phones.size(), 7);
        const QList<QPair<QString, QString>> phoneLabels = {
            {u"2"_s, QString()}, {u"0"_s, u"TextNow"_s}, {u"0"_s, QString()}, {u"0"_s, QString()},
            {u"0"_s, QString()}, {u"0"_s, QString()},    {u"2"_s, QString()}}; // the phone's "iPhone" is a mobile
        for (int i = 0; i < phones.size(); ++i) {
            QCOMPARE(phones[i].text(u"data1"_s), u"+1 555 000%1"_s.arg(i + 1));
            QCOMPARE(phones[i].text(u"data2"_s), phoneLabels[i].first);
            QCOMPARE(phones[i].text(u"data3"_s), phoneLabels[i].second);
        }

        QCOMPARE(col(ada, pim::ENTITY_EMAIL, "data1", 0), u"ada@work.example"_s);
        QCOMPARE(col(ada, pim::ENTITY_EMAIL, "data2", 0), u"2"_s);
        QCOMPARE(col(ada, pim::ENTITY_EMAIL, "data1", 1), u"ada@example.org"_s);
        QCOMPARE(col(ada, pim::ENTITY_EMAIL, "data2", 1), u"0"_s);

        // Street, city and postcode in their columns, the country code ignored, the text formatted from them.
        QCOMPARE(ada.rows(pim::ENTITY_ADDRESS).size(), 1);
        QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data2"), u"1"_s);
        QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data4"), u"12 St James's Sq"_s);
        QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data7"), u"London"_s);
        QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data9"), u"SW1Y 4LB"_s);
        QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data11"), QString());
        QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data1"), u"12 St James's Sq\nLondon, SW1Y 4LB"_s);

        // IM: a known service gets its protocol code, an unknown one none.
        QCOMPARE(ada.rows(pim::ENTITY_IM).size(), 2);
        QCOMPARE(col(ada, pim::ENTITY_IM, "data1", 0), u"ada.l"_s);
        QCOMPARE(col(ada, pim::ENTITY_IM, "data2", 0), u"2"_s);
        QCOMPARE(col(ada, pim::ENTITY_IM, "data5", 0), u"4"_s);
        QCOMPARE(col(ada, pim::ENTITY_IM, "data1", 1), u"+1 555 0100"_s);
        QCOMPARE(col(ada, pim::ENTITY_IM, "data5", 1), QString());

        // Dates: 0 is 2001-01-01 (local time); a date without a value is left out.
        QCOMPARE(ada.rows(pim::ENTITY_EVENT).size(), 1);
        QCOMPARE(col(ada, pim::ENTITY_EVENT, "data1"), u"2001-01-01T09:00:00"_s);
        QCOMPARE(col(ada, pim::ENTITY_EVENT, "data2"), u"1"_s);

        QCOMPARE(col(ada, pim::ENTITY_WEBSITE, "data1"), u"https://ada.example"_s);
        QCOMPARE(col(ada, pim::ENTITY_WEBSITE, "data2"), u"1"_s);
        QCOMPARE(col(ada, pim::ENTITY_RELATION, "data1"), u"Anne"_s);
        QCOMPARE(col(ada, pim::ENTITY_RELATION, "data2"), u"8"_s);
        // The social profile, the value without a property and other persons' phones are not Ada's.
        QCOMPARE(ada.rowCount(), 1 + 7 + 2 + 1 + 2 + 1 + 1 + 1);
    }

    void photosAndNoImagesDatabase()
    {
        const QByteArray png = QByteArray::fromBase64(
            "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
        const QStringList people = persons({{u"Ada"_s, u"Lovelace"_s}, {u"Grace"_s, u"Hopper"_s}});
        {
            HandMadeBackup backup;
            backup.addAddressBook(people);
            auto db = newDb();
            const QList<pim::Contact> contacts = import(backup, *db);
            QCOMPARE(contacts.size(), 2);
            QVERIFY(!contacts[0].hasRows(pim::ENTITY_PHOTO));
        }
        HandMadeBackup backup;
        backup.addAddressBook(people);
        backup.addDatabase(
            "Library/AddressBook/AddressBookImages.sqlitedb",
            {u"CREATE TABLE ABFullSizeImage (record_id INTEGER, data BLOB, UNIQUE(record_id))"_s,
             u"insert into ABFullSizeImage values (1, x'%1'), (2, x'')"_s.arg(QString::fromLatin1(png.toHex()))});
        auto db = newDb();
        const QList<pim::Contact> contacts = import(backup, *db);
        QCOMPARE(contacts[0].full_name, u"Ada Lovelace"_s);
        QCOMPARE(contacts[0].firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray(), png);
        QVERIFY(!contacts[1].hasRows(pim::ENTITY_PHOTO)); // an empty image is no photo
    }

    void progressInTwoHalvesAndMerging()
    {
        HandMadeBackup backup;
        backup.addAddressBook(persons({{u"Anna"_s, u"Berg"_s}, {u"ANNA"_s, u"BERG"_s}, {u"Mark"_s, u"Cole"_s}}));
        auto db = newDb();
        db->saveContactWithMerge(fixtures::person(u"Anna"_s, u"Berg"_s, u"+47 555 0100"_s));

        ProgressObject progress;
        QSignalSpy updates(&progress, &ProgressObject::progressChanged);
        ImportContactsFromiTunesThread worker(backup.loaded(), db.get(), &progress);
        runToEnd(worker, progress);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
        QList<int> values;
        QStringList texts;
        for (const QList<QVariant> &u : std::as_const(updates)) {
            values << u.at(1).toInt();
            texts << u.at(0).toString() + u' ' + u.at(2).toString();
        }
        QCOMPARE(values, (QList<int>{16, 33, 50, 66, 83, 100}));
        QCOMPARE(texts.first(), u"Loading contacts from iTunes Backup... Contacts:1/3"_s);
        QCOMPARE(texts.last(), u"Importing contacts from iTunes Backup now... Contacts:3/3"_s);
        // Both spellings of Anna Berg went into the stored Anna Berg.
        QCOMPARE(progress.message(),
                 u"Successfully imported 1 contacts from iTunes Backup, with 2 repeated contacts merged."_s);
        const QList<pim::Contact> contacts = db->listContacts(0, QString());
        QCOMPARE(contacts.size(), 2);
        QCOMPARE(contacts[0].full_name, u"Anna Berg"_s);
        QCOMPARE(contacts[0].rowCount(), 2); // her name and phone; the merged names wrote nothing
        QCOMPARE(contacts[1].full_name, u"Mark Cole"_s);
    }

    void companyCardsStayApart()
    {
        HandMadeBackup backup;
        backup.addAddressBook({u"insert into ABPerson (Organization, Kind) values ('Acme', 1), ('Globex', 1)"_s});
        auto db = newDb();
        QString message;
        QList<pim::Contact> contacts = import(backup, *db, &message);
        QCOMPARE(message, u"Successfully imported 2 contacts from iTunes Backup."_s);
        QCOMPARE(contacts.size(), 2);
        QStringList companies;
        for (const pim::Contact &c : contacts) {
            companies << col(c, pim::ENTITY_ORGANIZATION, "data1");
            QCOMPARE(c.full_name, companies.last()); // shown by the company, not nameless
        }
        companies.sort();
        QCOMPARE(companies, (QStringList{u"Acme"_s, u"Globex"_s}));
        // A second import merges each company into itself and adds nothing.
        contacts = import(backup, *db, &message);
        QCOMPARE(message, u"Successfully imported 0 contacts from iTunes Backup, with 2 repeated contacts merged."_s);
        QCOMPARE(contacts.size(), 2);
    }

    void damagedInputIsReported_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not a database") << 0 << u"file is not a database"_s;
        QTest::newRow("no address book in the backup") << 1 << u"unable to open database file"_s;
        QTest::newRow("table missing") << 2 << u"ABMultiValue is missing"_s;
        QTest::newRow("stored file missing") << 3 << u"can not open "_s;
    }
    void damagedInputIsReported()
    {
        QFETCH(int, damage);
        QFETCH(QString, expected);
        HandMadeBackup backup;
        switch (damage) {
        case 0:
            backup.addFile("Library/AddressBook/AddressBook.sqlitedb", QByteArray(4096, 'x'));
            break;
        case 1:
            backup.addFile("Library/Preferences/other.plist", "x");
            break;
        case 2:
            // Persons but no multi-value tables.
            backup.addDatabase(
                "Library/AddressBook/AddressBook.sqlitedb",
                {QString::fromLatin1(kAddressBookSchema[0]), u"insert into ABPerson (First) values ('Ada')"_s});
            break;
        case 3:
            backup.addAddressBook(persons({{u"Ada"_s, u"Lovelace"_s}}));
            QVERIFY(
                QFile::remove(backup.folder() + u'/' +
                              BackupManifest::fileId(u"HomeDomain"_s, u"Library/AddressBook/AddressBook.sqlitedb"_s)));
            break;
        }
        auto db = newDb();
        ProgressObject progress;
        ImportContactsFromiTunesThread worker(backup.loaded(), db.get(), &progress);
        runToEnd(worker, progress);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Failed);
        QVERIFY2(progress.message().contains(expected), qPrintable(progress.message()));
        QVERIFY(db->listContacts(0, QString()).isEmpty());
    }

    void cancelStopsWithoutMessage_data()
    {
        QTest::addColumn<int>("checks");
        QTest::newRow("while reading") << 1;
        QTest::newRow("while writing") << 4; // three reads, one contact saved, then the cancel
    }
    void cancelStopsWithoutMessage()
    {
        QFETCH(int, checks);
        HandMadeBackup backup;
        backup.addAddressBook(persons({{u"Anna"_s, u"Berg"_s}, {u"Mark"_s, u"Cole"_s}, {u"Zoe"_s, u"Adams"_s}}));
        auto db = newDb();
        CancelAfterChecks progress(checks);
        QSignalSpy updates(&progress, &ProgressObject::progressChanged);
        ImportContactsFromiTunesThread worker(backup.loaded(), db.get(), &progress);
        runToEnd(worker, progress, false);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Running); // neither success nor error
        QCOMPARE(updates.size(), checks);
        // What was saved before the cancel is rolled back.
        Sqlite3Cursor c = db->db().queryThrow("select count(*) from contact");
        QVERIFY(c.moveNext());
        QCOMPARE(c.getInt64(0), 0);
    }

    // A cancel while a contact of many phones is being written stops inside that contact and rolls back the
    // whole import, contacts saved before it included.
    void cancelInsideLargeContactRollsBack()
    {
        HandMadeBackup backup;
        QStringList sql = persons({{u"Anna"_s, u"Berg"_s}, {u"Many"_s, u"Numbers"_s}});
        sql << u"insert into ABMultiValueLabel (rowid, value) values (1,'_$!<Mobile>!$_')"_s
            << u"insert into ABMultiValue (record_id, property, label, value) values (1,3,1,'+1 555 0001')"_s
            << u"with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
               "insert into ABMultiValue (record_id, property, label, value) select 2, 3, 1, '+1 555 ' || (10000 + i) "
               "from n"_s;
        backup.addAddressBook(sql);
        auto db = newDb();
        // Asked on the worker's thread: the cancel comes once the big contact's phones are being written, which
        // only a check between its rows can see.
        class CancelWhileWriting : public ProgressObject
        {
        public:
            explicit CancelWhileWriting(LocalDb *db) : m_db(db) {}
            bool finishedWithoutSuccess() const override
            {
                Sqlite3Cursor c = m_db->db().queryThrow("select count(*) from data where type = 3");
                return c.moveNext() && c.getInt64(0) > 100;
            }

        private:
            LocalDb *m_db;
        } progress(db.get());
        ImportContactsFromiTunesThread worker(backup.loaded(), db.get(), &progress);
        runToEnd(worker, progress, false);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Running); // neither success nor error
        Sqlite3Cursor c = db->db().queryThrow("select (select count(*) from contact) + (select count(*) from data)");
        QVERIFY(c.moveNext());
        QCOMPARE(c.getInt64(0), 0);

        // Without a cancel the same backup imports whole.
        auto whole = newDb();
        QCOMPARE(import(backup, *whole).size(), 2);
        Sqlite3Cursor phones = whole->db().queryThrow("select count(*) from data where type = 3");
        QVERIFY(phones.moveNext());
        QCOMPARE(phones.getInt64(0), 1001);
    }

    // A photo database that is empty, damaged or of another kind costs the photos, not the import; the success
    // text says so. A photo that cannot be read alone is counted.
    void damagedImagesCostOnlyPhotos_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero length") << 0 << u"Photos were not imported"_s;
        QTest::newRow("noise") << 1 << u"Photos were not imported"_s;
        QTest::newRow("images table is a view") << 2 << u"ABFullSizeImage is a view"_s;
        QTest::newRow("one photo too long to read") << 3 << u"1 photos could not be read"_s;
    }
    void damagedImagesCostOnlyPhotos()
    {
        QFETCH(int, damage);
        QFETCH(QString, expected);
        HandMadeBackup backup;
        backup.addAddressBook(persons({{u"Ada"_s, u"Lovelace"_s}, {u"Grace"_s, u"Hopper"_s}}));
        const char *images = "Library/AddressBook/AddressBookImages.sqlitedb";
        switch (damage) {
        case 0:
            backup.addFile(images, QByteArray());
            break;
        case 1:
            backup.addFile(images, QByteArray("SQLite format 3\0", 16) + QByteArray(8192, '\x5a'));
            break;
        case 2:
            backup.addDatabase(images, {u"CREATE VIEW ABFullSizeImage AS SELECT 1 AS record_id, x'00' AS data"_s});
            break;
        case 3:
            // Ada's photo is larger than any value read from a backup may be; Grace's is fine.
            backup.addDatabase(images,
                               {u"CREATE TABLE ABFullSizeImage (record_id INTEGER, data BLOB)"_s,
                                u"insert into ABFullSizeImage values (1, zeroblob(70*1024*1024)), (2, x'0102')"_s});
            break;
        }
        auto db = newDb();
        QString message;
        const QList<pim::Contact> contacts = import(backup, *db, &message);
        QCOMPARE(contacts.size(), 2);
        QVERIFY2(message.startsWith(u"Successfully imported 2 contacts"_s), qPrintable(message));
        QVERIFY2(message.contains(expected), qPrintable(message));
        QCOMPARE(contacts[1].hasRows(pim::ENTITY_PHOTO), damage == 3);
    }

    // Tables that are views (here: endless ones) or computed columns would run the file's own SQL; they are
    // refused at once, before any statement reads them, and nothing is imported.
    void endlessViewsAreRefused_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("expected");
        QTest::newRow("persons view") << u"CREATE VIEW ABPerson AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL "
                                         "SELECT n+1 FROM r) SELECT n AS ROWID, 'x' AS First, '' AS Last, "
                                         "'' AS Middle, '' AS Prefix, '' AS Suffix, '' AS Organization, "
                                         "'' AS Department, '' AS JobTitle, '' AS Note, '' AS Birthday, "
                                         "'' AS Nickname FROM r"_s
                                      << u"ABPerson is a view"_s;
        QTest::newRow("computed column")
            << u"CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY, First TEXT, Last TEXT, Middle TEXT, "
               "Organization TEXT, Department TEXT, JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, "
               "Birthday TEXT, Note TEXT GENERATED ALWAYS AS (zeroblob(1000000000)) VIRTUAL)"_s
            << u"computed column \"Note\""_s;
    }
    void endlessViewsAreRefused()
    {
        QFETCH(QString, statement);
        QFETCH(QString, expected);
        HandMadeBackup backup;
        QStringList all{statement};
        for (const char *s : kAddressBookSchema)
            if (!QByteArray(s).startsWith("CREATE TABLE ABPerson"))
                all << QString::fromLatin1(s);
        backup.addDatabase("Library/AddressBook/AddressBook.sqlitedb", all);
        auto db = newDb();
        ProgressObject progress;
        ImportContactsFromiTunesThread worker(backup.loaded(), db.get(), &progress);
        QElapsedTimer clock;
        clock.start();
        runToEnd(worker, progress);
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Failed);
        QVERIFY2(progress.message().contains(expected), qPrintable(progress.message()));
        QVERIFY(db->listContacts(0, QString()).isEmpty());
    }

    // While the worker reads, the deciphered copies are in a private folder inside the data folder (owner
    // only), not in the shared temporary folder; the folder goes when the worker ends.
    void copiesStayInThePrivateFolder()
    {
        HandMadeBackup backup;
        backup.addAddressBook(persons({{u"Ada"_s, u"Lovelace"_s}}));
        auto db = newDb();
        struct Watch : ProgressObject
        {
            mutable QStringList seen;
            bool finishedWithoutSuccess() const override
            {
                QDirIterator it(PrivateTempDir::parentFolder(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                QDirIterator::Subdirectories);
                while (it.hasNext()) {
                    const QFileInfo info(it.next());
                    seen << u"%1 %2"_s.arg(info.fileName()).arg(int(info.permissions() & 0x0777), 0, 16);
                }
                return ProgressObject::finishedWithoutSuccess();
            }
        } progress;
        ImportContactsFromiTunesThread worker(backup.loaded(), db.get(), &progress);
        runToEnd(worker, progress);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
        QVERIFY2(std::any_of(progress.seen.cbegin(), progress.seen.cend(),
                             [](const QString &s) { return s.startsWith(u"AddressBook.sqlitedb"_s); }),
                 qPrintable(progress.seen.join(u", "_s)));
        // The private folder and its parent: the owner's alone.
        QCOMPARE(QFile::permissions(PrivateTempDir::parentFolder()) & 0x0077, QFileDevice::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestAddressBookImport)
#include "tst_addressbookimport.moc"
