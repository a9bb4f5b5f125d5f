// The import and export workers on real threads and real files: messages, the merge count, rollback on
// failure and cancel, no file after a cancelled or failed export; the HTML folder rule; the column layout of
// the text exporters; and every corpus file imported into a database.

#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/abstextexport.h"
#include "fileio/exporttofilethread.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"
#include "fileio/vcard.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace Qt::StringLiterals;
using fixtures::person;
using fixtures::row;

namespace {

// A receiver that answers "cancelled" from the given poll on, as a user who cancels part-way.
class CancelAfter : public ProgressTarget
{
public:
    explicit CancelAfter(int polls) : m_polls(polls) {}
    QObject *progressObject() override { return &object; }
    bool finishedWithoutSuccess() const override { return ++m_count > m_polls; }

    ProgressObject object;

private:
    int m_polls;
    mutable std::atomic<int> m_count{0};
};

// Runs a worker to its end and delivers what it posted.
void runToEnd(QThread &worker)
{
    worker.start();
    QVERIFY(worker.wait(60000));
    QCoreApplication::sendPostedEvents();
}

QByteArray cards(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines)
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n" + line.toUtf8() + "\r\nEND:VCARD\r\n";
    return out;
}

// Test text exporter: cells joined by "|".
class PipeExport : public AbsTextExport
{
protected:
    QByteArray formatHeader(const QStringList &titles) override { return titles.join(u'|').toUtf8() + '\n'; }
    QByteArray formatRow(const QStringList &cells) override { return cells.join(u'|').toUtf8() + '\n'; }
};

} // namespace

class TestFileIo : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LocalDb> m_db;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir->filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return path;
    }

    QStringList storedNames()
    {
        QStringList names;
        for (const pim::Contact &c : m_db->listContacts(0, QString()))
            names << c.full_name;
        return names;
    }

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = std::make_unique<LocalDb>(m_dir->filePath(u"target.db"_s), PContactCombineRule(new LocalDbCombineRule));
        m_db->createFromTemplate();
    }
    void cleanup()
    {
        m_db.reset();
        m_dir.reset();
    }

    void importReports_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("lastProgress");

        QTest::newRow("4 records, 1 merged")
            << cards({u"N:Berg;Anna\r\nTEL:1"_s, u"N:Cole;Mark"_s, u"N:berg;anna\r\nTEL:2"_s, u"N:Adams;Zoë"_s})
            << u"Successfully imported 3 contacts, with 1 repeated contacts merged."_s
            << QStringList{u"Anna Berg"_s, u"Mark Cole"_s, u"Zoë Adams"_s} << u"Contacts:4/4"_s;
        QTest::newRow("a card without N or FN is named by its number")
            << cards({u"N:Berg;Anna"_s, u"TEL:555"_s, u"FN:Acme"_s}) << u"Successfully imported 3 contacts."_s
            << QStringList{u"555"_s, u"Acme"_s, u"Anna Berg"_s} << u"Contacts:3/3"_s;
        QTest::newRow("a card with nothing to name it by, and a line without colon, are counted")
            << cards({u"N:Berg;Anna\r\nno colon"_s, u"NOTE:who?"_s})
            << u"1 cards imported (0 merged into contacts of the same name), 2 lines skipped."_s
            << QStringList{u"Anna Berg"_s} << u"Contacts:2/2"_s;
    }

    void importReports()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        QFETCH(QStringList, stored);
        QFETCH(QString, lastProgress);
        ProgressObject progress;
        QString last;
        connect(&progress, &ProgressObject::progressChanged, this,
                [&last](const QString &, int, const QString &text) { last = text; });
        // The file's extension plays no part: the kind decides.
        ImportContactsToLocalThread worker(writeFile(u"list.csv"_s, file), fileio::ImportVCard, m_db.get(), &progress);
        runToEnd(worker);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
        QCOMPARE(progress.message(), message);
        QCOMPARE(storedNames(), stored);
        QCOMPARE(last, lastProgress);
        if (!stored.isEmpty())
            QCOMPARE(progress.status(), u"Importing contacts to Local Database now..."_s);
    }

    // A large file is reported as it goes, not once per contact (each report is an event for the window), and
    // the last report counts every contact.
    void importReportsProgressInSteps()
    {
        QStringList list;
        for (int i = 0; i < 3000; ++i)
            list << u"N:Family%1;Given\r\nTEL:%1"_s.arg(i);
        ProgressObject progress;
        int reports = 0;
        QString last;
        connect(&progress, &ProgressObject::progressChanged, this, [&](const QString &, int, const QString &text) {
            ++reports;
            last = text;
        });
        ImportContactsToLocalThread worker(writeFile(u"many.vcf"_s, cards(list)), fileio::ImportVCard, m_db.get(),
                                           &progress);
        runToEnd(worker);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
        QCOMPARE(last, u"Contacts:3000/3000"_s);
        QVERIFY2(reports >= 2 && reports < 300, qPrintable(QString::number(reports)));
        QCOMPARE(m_db->countContacts(), qint64(3000));
    }

    void importErrors_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QString>("message");
        QTest::newRow("unreadable file") << int(fileio::ImportVCard) << false << u"No such file or directory"_s;
        QTest::newRow("kind without importer") << 7 << true << QString();
        QTest::newRow("nothing read is no success")
            << int(fileio::ImportVCard) << true << u"No contact could be read from the file (0 lines skipped)."_s;
    }

    void importErrors()
    {
        QFETCH(int, kind);
        QFETCH(bool, fileExists);
        QFETCH(QString, message);
        const QByteArray content = message.startsWith(u"No contact"_s) ? QByteArray() : cards({u"N:A"_s});
        const QString path = fileExists ? writeFile(u"a.vcf"_s, content) : m_dir->filePath(u"missing.vcf"_s);
        ProgressObject progress;
        ImportContactsToLocalThread worker(path, kind, m_db.get(), &progress);
        runToEnd(worker);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Failed);
        QCOMPARE(progress.message(), message);
        QVERIFY(storedNames().isEmpty());
    }

    // A storage failure half-way (a trigger refuses one contact) undoes the whole import, merges included.
    void importFailureRollsBack()
    {
        m_db->saveContactWithMerge(person(u"Anna"_s, u"Berg"_s, u"111"_s));
        m_db->db().executeThrow(Sqlite3Sql("create trigger refuse before insert on contact when new.full_name = 'Boom' "
                                           "begin select raise(abort, 'the database refused Boom'); end"));
        const QString file =
            writeFile(u"a.vcf"_s, cards({u"N:Berg;Anna\r\nTEL:222"_s, u"N:New;Person"_s, u"FN:Boom"_s}));
        ProgressObject progress;
        ImportContactsToLocalThread worker(file, fileio::ImportVCard, m_db.get(), &progress);
        runToEnd(worker);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Failed);
        QVERIFY2(progress.message().contains(u"the database refused Boom"_s), qPrintable(progress.message()));
        const QList<pim::Contact> after = m_db->listContacts(0, QString());
        QCOMPARE(after.size(), 1);
        QCOMPARE(after.first().rows(pim::ENTITY_PHONE).size(), 1);
        QCOMPARE(after.first().firstRow(pim::ENTITY_PHONE).text(u"data1"_s), u"111"_s);
    }

    void importCancelRollsBack()
    {
        m_db->saveContactWithMerge(person(u"Anna"_s, u"Berg"_s, u"111"_s));
        const QString file =
            writeFile(u"a.vcf"_s, cards({u"N:Berg;Anna\r\nTEL:222"_s, u"N:B"_s, u"N:C"_s, u"N:D"_s, u"N:E"_s}));
        CancelAfter progress(3);
        ImportContactsToLocalThread worker(file, fileio::ImportVCard, m_db.get(), &progress);
        runToEnd(worker);
        QCOMPARE(progress.object.outcome(), ProgressObject::Outcome::Running); // no message
        QCOMPARE(storedNames(), QStringList{u"Anna Berg"_s});
        QCOMPARE(m_db->listContacts(0, QString()).first().rows(pim::ENTITY_PHONE).size(), 1);
    }

    void exportWritesTheFile()
    {
        const QList<pim::Contact> contacts{person(u"Anna"_s, u"Berg"_s, u"111"_s), person(u"Zoë"_s, u"Adams"_s)};
        const QString path = m_dir->filePath(u"out.vcf"_s);
        writeFile(u"out.vcf"_s, "an older file of that name");
        ProgressObject progress;
        ExportToFileThread worker(contacts, fileio::ExportVCard, path, &progress);
        runToEnd(worker);
        QCOMPARE(progress.outcome(), ProgressObject::Outcome::Succeeded);
        QCOMPARE(progress.message(), u"Successfully exported 2 contacts to File."_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), vcard::bytesFromContacts(contacts));
    }

    // A cancel part-way, or a failure, leaves no new file, and an older file of the same name as it was.
    void exportLeavesNoFile_data()
    {
        QTest::addColumn<bool>("older");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << false << true;
        QTest::newRow("cancelled, older file kept") << true << true;
        QTest::newRow("failed: folder missing") << false << false;
    }

    void exportLeavesNoFile()
    {
        QFETCH(bool, older);
        QFETCH(bool, cancel);
        QList<pim::Contact> contacts;
        for (int i = 0; i < 5; ++i)
            contacts << person(u"P%1"_s.arg(i), u"Q"_s, u"555"_s);
        const QString path = cancel ? m_dir->filePath(u"out.vcf"_s) : m_dir->filePath(u"missing/out.vcf"_s);
        if (older)
            writeFile(u"out.vcf"_s, "older");
        const QStringList before = QDir(m_dir->path()).entryList(QDir::Files);

        CancelAfter progress(cancel ? 3 : 1000);
        ExportToFileThread worker(contacts, fileio::ExportVCard, path, &progress);
        runToEnd(worker);
        QCOMPARE(progress.object.outcome(),
                 cancel ? ProgressObject::Outcome::Running : ProgressObject::Outcome::Failed);
        QVERIFY(cancel || !progress.object.message().isEmpty());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), before);
        QCOMPARE(QFileInfo::exists(path), older);
        if (older) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("older"));
        }
    }

    // HTML (and Word, written by the HTML exporter) make the chosen path a folder holding the file.
    void exportTarget_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::newRow("vCard") << int(fileio::ExportVCard) << u"/t/friends.vcf"_s << u"/t"_s << u"/t/friends.vcf"_s;
        QTest::newRow("HTML") << int(fileio::ExportHtml) << u"/t/contacts.html"_s << u"/t/contacts.html"_s
                              << u"/t/contacts.html/contacts.html"_s;
        QTest::newRow("Word") << int(fileio::ExportHtml) << u"/t/c.doc"_s << u"/t/c.doc"_s << u"/t/c.doc/c.doc"_s;
    }

    void exportTarget()
    {
        QFETCH(int, kind);
        QFETCH(QString, chosen);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        const fileio::ExportTarget target = fileio::exportTarget(kind, chosen);
        QCOMPARE(target.folder, folder);
        QCOMPARE(target.file, file);
    }

    // Columns: those the contacts fill, by rank, the first met first among equals; a second value of one kind
    // in a numbered column of its own.
    void textColumns()
    {
        pim::Contact a = person(u"Anna"_s, u"Berg"_s, u"111"_s);
        a.addRow(pim::ENTITY_ADDRESS, row({{2, 1}, {7, u"Oslo"_s}}));
        a.addRow(pim::ENTITY_PHONE, row({{1, u"112"_s}, {2, 2}}));
        pim::Contact b;
        b.full_name = u"Acme"_s;
        b.addRow(pim::ENTITY_NOTE, row({{1, u"note"_s}}));
        b.addRow(pim::ENTITY_PHONE, row({{1, u"333"_s}, {2, 3}}));
        b.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Acme"_s}}));
        b.addRow(pim::ENTITY_PHOTO, row({{15, QByteArray("jpeg")}}));
        PipeExport exporter;
        QCOMPARE(exporter.header({a, b}),
                 QByteArray("First Name|Last Name|Company|Tel:Mobile|Tel:Mobile 2|Tel:Work|Addr:Home:City|Notes\n"));
        QCOMPARE(exporter.exportContact(a), QByteArray("Anna|Berg||111|112||Oslo|\n"));
        QCOMPARE(exporter.exportContact(b), QByteArray("||Acme|||333||note\n"));
    }

    // Every corpus file through the worker into one database: each run with a named card succeeds, and every
    // card with a name is saved or merged.
    void corpusImportsIntoADatabase()
    {
        QMap<QString, QString> files;
        for (const QString &dir : {QStringLiteral(SHARED_CORPUS_DIR), QStringLiteral(VCARD_DATA_DIR "/corpus")})
            for (const QFileInfo &info : QDir(dir).entryInfoList({u"*.vcf"_s}, QDir::Files))
                files.insert(info.fileName(), info.filePath());
        QVERIFY(files.size() >= 50);
        static const QRegularExpression counts(u"imported (\\d+) contacts(?:, with (\\d+))?"_s);
        static const QRegularExpression withSkipped(u"^(\\d+) cards imported \\((\\d+) merged"_s);
        qint64 saved = 0;
        for (const QString &path : std::as_const(files)) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            qint64 named = 0;
            for (const pim::Contact &c : vcard::contactsFromBytes(f.readAll()))
                named += c.full_name.isEmpty() ? 0 : 1;
            ProgressObject progress;
            ImportContactsToLocalThread worker(path, fileio::ImportVCard, m_db.get(), &progress);
            runToEnd(worker);
            // A file of which nothing could be read (a card of a LABEL alone) is reported as such.
            if (named == 0) {
                QVERIFY2(progress.outcome() == ProgressObject::Outcome::Failed, qPrintable(path));
                continue;
            }
            QVERIFY2(progress.outcome() == ProgressObject::Outcome::Succeeded, qPrintable(path + progress.message()));
            // "N cards imported (M merged …), K lines skipped" when something was left out.
            const QRegularExpressionMatch m = counts.match(progress.message());
            const QRegularExpressionMatch s = withSkipped.match(progress.message());
            QVERIFY2(m.hasMatch() || s.hasMatch(), qPrintable(progress.message()));
            QCOMPARE(m.hasMatch() ? m.captured(1).toLongLong() + m.captured(2).toLongLong()
                                  : s.captured(1).toLongLong(),
                     named);
            saved +=
                m.hasMatch() ? m.captured(1).toLongLong() : s.captured(1).toLongLong() - s.captured(2).toLongLong();
        }
        QCOMPARE(qint64(m_db->listContacts(0, QString()).size()), saved);
    }
};

QTEST_GUILESS_MAIN(TestFileIo)
#include "tst_fileio.moc"
