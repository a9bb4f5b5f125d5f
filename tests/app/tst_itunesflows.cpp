// "Import from iTunes" end to end, headless: backups written by backup-maker (plain, and encrypted with a
// password) are picked in the window's dialogs or named on the command line and imported into local databases
// with every field in place; a failed import removes the database made for it and leaves a chosen one alone.

#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/loaditunesbackupdlg.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/passcodedlg.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "itunes/backupmanifest.h"
#include "temphome.h"

#include <QAction>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

const char kPng[] = "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";

QByteArray seedCards()
{
    return QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;King;Lady;\r\nFN:Lady Ada King Lovelace\r\n"
                      "ORG:Analytical Engines;Research\r\nTITLE:Programmer\r\nNICKNAME:Ada L\r\n"
                      "TEL;TYPE=CELL:+44 20 7946 0000\r\nitem1.TEL:+44 20 7946 0001\r\nitem1.X-ABLabel:Lab\r\n"
                      "TEL:+44 20 7946 0002\r\nEMAIL;TYPE=WORK:ada@example.org\r\n"
                      "ADR;TYPE=HOME:;;12 St James's Sq;London;;SW1Y 4LB;United Kingdom\r\nBDAY:1815-12-10\r\n"
                      "item2.X-ABDATE:1835-07-08\r\nitem2.X-ABLabel:_$!<Anniversary>!$_\r\nX-SKYPE:ada.l\r\n"
                      "URL:https://ada.example\r\nitem3.X-ABRELATEDNAMES:Anne\r\nitem3.X-ABLabel:_$!<Mother>!$_\r\n"
                      "NOTE:First programmer\r\nPHOTO;ENCODING=b;TYPE=PNG:") +
           kPng +
           "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:Acme Ltd\r\nORG:Acme Ltd\r\n"
           "X-ABShowAs:COMPANY\r\nEND:VCARD\r\n";
}

// Writes a backup with backup-maker into the home folder's second backup root; returns its folder.
QString makeBackup(const TempHome &home, const QString &deviceName, const QStringList &options)
{
    const QString seed = home.filePath(u"seed.vcf"_s);
    QFile f(seed);
    if (!f.open(QIODevice::WriteOnly) || f.write(seedCards()) < 0)
        return QString();
    f.close();
    const QString root = BackupManifest::backupRoots().constLast();
    QDir().mkpath(root);
    const QString folder = root + u'/' + deviceName.toLower().replace(u' ', u'-');
    QProcess maker;
    maker.start(QStringLiteral(BACKUP_MAKER),
                QStringList{folder, u"--seed"_s, seed, u"--device-name"_s, deviceName} + options);
    if (!maker.waitForFinished(60000) || maker.exitCode() != 0) {
        qWarning("backup-maker: %s", maker.readAllStandardError().constData());
        return QString();
    }
    return folder;
}

QString col(const pim::Contact &c, int type, const char *column, int index = 0)
{
    return c.rows(type).value(index).text(QLatin1String(column));
}

// Every field of the two seeded persons, as the import must have written them.
void checkImported(const QList<pim::Contact> &contacts)
{
    QCOMPARE(contacts.size(), 2);
    const pim::Contact &company = contacts[0];
    // A card with only a company is named by its company (no part of a person's name is stored).
    QCOMPARE(company.full_name, u"Acme Ltd"_s);
    QCOMPARE(col(company, pim::ENTITY_NAME, "data2"), QString());
    QCOMPARE(col(company, pim::ENTITY_ORGANIZATION, "data1"), u"Acme Ltd"_s);

    const pim::Contact &ada = contacts[1];
    QCOMPARE(ada.full_name, u"Lady Ada King Lovelace"_s);
    QCOMPARE(col(ada, pim::ENTITY_NAME, "data2"), u"Ada"_s);
    QCOMPARE(col(ada, pim::ENTITY_NAME, "data3"), u"Lovelace"_s);
    QCOMPARE(col(ada, pim::ENTITY_NAME, "data4"), u"King"_s);
    QCOMPARE(col(ada, pim::ENTITY_NAME, "data5"), u"Lady"_s);
    QCOMPARE(ada.firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray(), QByteArray::fromBase64(kPng));
    QCOMPARE(col(ada, pim::ENTITY_ORGANIZATION, "data1"), u"Analytical Engines"_s);
    QCOMPARE(col(ada, pim::ENTITY_ORGANIZATION, "data5"), u"Research"_s);
    QCOMPARE(col(ada, pim::ENTITY_ORGANIZATION, "data4"), u"Programmer"_s);
    QCOMPARE(col(ada, pim::ENTITY_NOTE, "data1"), u"First programmer"_s);
    QCOMPARE(col(ada, pim::ENTITY_NICKNAME, "data1"), u"Ada L"_s);

    const QList<pim::DataRow> phones = ada.rows(pim::ENTITY_PHONE);
    QCOMPARE(phones.size(), 3);
    QCOMPARE(phones[0].text(u"data1"_s) + u'|' + phones[0].text(u"data2"_s) + u'|' + phones[0].text(u"data3"_s),
             u"+44 20 7946 0000|2|"_s);
    QCOMPARE(phones[1].text(u"data1"_s) + u'|' + phones[1].text(u"data2"_s) + u'|' + phones[1].text(u"data3"_s),
             u"+44 20 7946 0001|0|Lab"_s);
    // No type in the card: no label in the address book, imported all the same.
    QCOMPARE(phones[2].text(u"data1"_s) + u'|' + phones[2].text(u"data2"_s) + u'|' + phones[2].text(u"data3"_s),
             u"+44 20 7946 0002|0|"_s);

    QCOMPARE(col(ada, pim::ENTITY_EMAIL, "data1"), u"ada@example.org"_s);
    QCOMPARE(col(ada, pim::ENTITY_EMAIL, "data2"), u"2"_s);

    QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data2"), u"1"_s);
    QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data4"), u"12 St James's Sq"_s);
    QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data7"), u"London"_s);
    QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data9"), u"SW1Y 4LB"_s);
    QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data10"), u"United Kingdom"_s);
    QCOMPARE(col(ada, pim::ENTITY_ADDRESS, "data1"), u"12 St James's Sq\nLondon, SW1Y 4LB\nUnited Kingdom"_s);

    // The birthday (before 2001) and the anniversary, at noon UTC, nine hours later in local time.
    QCOMPARE(ada.rows(pim::ENTITY_EVENT).size(), 2);
    QCOMPARE(col(ada, pim::ENTITY_EVENT, "data1", 0), u"1815-12-10T21:00:00"_s);
    QCOMPARE(col(ada, pim::ENTITY_EVENT, "data2", 0), u"3"_s);
    QCOMPARE(col(ada, pim::ENTITY_EVENT, "data1", 1), u"1835-07-08T21:00:00"_s);
    QCOMPARE(col(ada, pim::ENTITY_EVENT, "data2", 1), u"1"_s);

    QCOMPARE(col(ada, pim::ENTITY_IM, "data1"), u"ada.l"_s);
    QCOMPARE(col(ada, pim::ENTITY_IM, "data5"), u"4"_s);
    QCOMPARE(col(ada, pim::ENTITY_WEBSITE, "data1"), u"https://ada.example"_s);
    QCOMPARE(col(ada, pim::ENTITY_WEBSITE, "data2"), u"1"_s);
    QCOMPARE(col(ada, pim::ENTITY_RELATION, "data1"), u"Anne"_s);
    QCOMPARE(col(ada, pim::ENTITY_RELATION, "data2"), u"8"_s);
}

QList<pim::Contact> contactsOf(const QString &fileName)
{
    LocalDb db(LocalDbFiles::pathFor(fileName), PContactCombineRule(new LocalDbCombineRule));
    return db.listContacts(0, QString());
}

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

Run cli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(CONTACT_MOVER_CLI_EXE), args);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// A backup whose address book is damaged: any import of it fails while reading.
QString brokenBackup(const TempHome &home)
{
    const QString folder = home.filePath(u"broken-backup"_s);
    const QString made = makeBackup(home, u"Broken Phone"_s, {u"--layout"_s, u"mbdb"_s});
    QDir().rename(made, folder);
    QFile book(folder + u'/' + BackupManifest::fileId(u"HomeDomain"_s, u"Library/AddressBook/AddressBook.sqlitedb"_s));
    if (book.open(QIODevice::WriteOnly))
        book.write(QByteArray(8192, 'x'));
    return folder;
}

} // namespace

class TestItunesFlows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "JST-9");
        tzset();
        QVERIFY(installEnglishTranslation(*QCoreApplication::instance()));
    }
    void cleanup() { MessageBox::takeShownTexts(); }

    void windowImportsPlainAndEncryptedBackups()
    {
        TempHome home;
        const QString plain = makeBackup(home, u"Plain Phone"_s, {u"--layout"_s, u"mbdb"_s});
        QVERIFY(!plain.isEmpty());
        MainWindow w;
        w.show();
        QAction *action = w.action("miFromiTunes");
        QVERIFY(action->isEnabled());

        // Cancelling the list does nothing.
        LoadItunesBackupDlg::queueAnswer(-1);
        action->trigger();
        QVERIFY(LocalDbFiles::list().isEmpty());

        LoadItunesBackupDlg::queueAnswer(0);
        LocalDbSelForm::queueAnswer(u"Plain"_s);
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        action->trigger();
        QCOMPARE(MessageBox::takeShownTexts().mid(1),
                 QStringList{u"Successfully imported 2 contacts from iTunes Backup."_s});
        _DBItemNode *node = w.treeModel()->findDatabaseNode(u"Plain.db"_s);
        QVERIFY(node);
        QCOMPARE(w.selectedDbNode(), node);
        QCOMPARE(w.contactsModel()->contacts().size(), 2);
        checkImported(contactsOf(u"Plain.db"_s));

        // The encrypted one is listed after the plain one (newer); a wrong password is refused first.
        const QString locked =
            makeBackup(home, u"Locked Phone"_s, {u"--password"_s, u"secret"_s, u"--iterations"_s, u"10,10"_s});
        QVERIFY(!locked.isEmpty());
        LoadItunesBackupDlg::queueAnswer(1);
        PasscodeDlg::queueAnswer(u"wrong"_s);
        PasscodeDlg::queueAnswer(u"secret"_s);
        LocalDbSelForm::queueAnswer(u"Locked"_s);
        MessageBox::queueAnswer(MessageBox::Ok);
        MessageBox::queueAnswer(MessageBox::Yes);
        MessageBox::queueAnswer(MessageBox::Ok);
        action->trigger();
        QCOMPARE(
            MessageBox::takeShownTexts(),
            (QStringList{
                u"Invalid password."_s,
                u"Import into \u201CLocked.db\u201D?<br/><br/>2 contacts will be added, 0 merged into contacts already "
                "there and 0 left unchanged."_s,
                u"Successfully imported 2 contacts from iTunes Backup."_s}));
        checkImported(contactsOf(u"Locked.db"_s));

        // Importing it again into the same database merges both: the company card is named by its company.
        LoadItunesBackupDlg::queueAnswer(1);
        PasscodeDlg::queueAnswer(u"secret"_s);
        LocalDbSelForm::queueAnswer(u"Locked"_s);
        MessageBox::queueAnswer(MessageBox::Yes); // the question with what will change
        MessageBox::queueAnswer(MessageBox::Ok);
        action->trigger();
        QCOMPARE(
            MessageBox::takeShownTexts().mid(1),
            QStringList{u"Successfully imported 0 contacts from iTunes Backup, with 2 repeated contacts merged."_s});
        QCOMPARE(contactsOf(u"Locked.db"_s).size(), 2);

        // Cancelling the password dialog stops before any database is chosen.
        LoadItunesBackupDlg::queueAnswer(1);
        PasscodeDlg::queueAnswer(QString());
        action->trigger();
        QCOMPARE(LocalDbFiles::list(), (QStringList{u"Plain.db"_s, u"Locked.db"_s}));
    }

    // A failed import removes the database made for it, and only that one.
    void windowFailureRemovesOnlyANewDatabase()
    {
        TempHome home;
        const QString broken = brokenBackup(home);
        MainWindow w;
        w.show();
        for (const QString &name : {u"Fresh"_s, u"Kept"_s}) {
            if (name == u"Kept"_s) {
                LocalDb kept(LocalDbFiles::pathFor(u"Kept.db"_s), PContactCombineRule(new LocalDbCombineRule));
                QDir().mkpath(QFileInfo(kept.path()).absolutePath());
                kept.createFromTemplate();
                pim::Contact c;
                pim::DataRow row;
                row.setValue(u"data1"_s, u"Kept Person"_s);
                row.setValue(u"data2"_s, u"Kept"_s);
                row.setValue(u"data3"_s, u"Person"_s);
                c.full_name = u"Kept Person"_s;
                c.addRow(pim::ENTITY_NAME, row);
                kept.saveContactWithMerge(c);
            }
            LoadItunesBackupDlg::queueAddFolderAnswer(broken);
            LocalDbSelForm::queueAnswer(name);
            MessageBox::queueAnswer(MessageBox::Ok);
            w.action("miFromiTunes")->trigger();
            const QStringList shown = MessageBox::takeShownTexts();
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown.first().contains(u"file is not a database"_s), qPrintable(shown.first()));
        }
        QCOMPARE(LocalDbFiles::list(), QStringList{u"Kept.db"_s});
        QVERIFY(!w.treeModel()->findDatabaseNode(u"Fresh.db"_s));
        QVERIFY(w.treeModel()->findDatabaseNode(u"Kept.db"_s));
        QCOMPARE(contactsOf(u"Kept.db"_s).size(), 1);
    }

    void commandLineListsAndImports()
    {
        TempHome home;
        const QString plain = makeBackup(home, u"Plain Phone"_s, {});
        const QString locked =
            makeBackup(home, u"Locked Phone"_s, {u"--password"_s, u"secret"_s, u"--iterations"_s, u"10,10"_s});
        QVERIFY(!plain.isEmpty() && !locked.isEmpty());

        Run r = cli({u"itunes-backups"_s});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith(u"Plain Phone-plain-phone\t"_s) && lines[0].endsWith(u"\tplain\t"_s + plain),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith(u"\tencrypted\t"_s + locked), qPrintable(lines[1]));

        r = cli({u"itunes-import"_s, plain});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, u"Successfully imported 2 contacts from iTunes Backup.\n"_s);
        checkImported(contactsOf(u"Plain Phone-backup.db"_s));

        // Encrypted: the password is required, a wrong one refused before any database is made.
        r = cli({u"itunes-import"_s, locked, u"--db"_s, u"Locked"_s});
        QCOMPARE(r.code, 2);
        const QString passwordFile = home.filePath(u"password.txt"_s);
        QFile file(passwordFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("wrong\n");
        file.close();
        r = cli({u"itunes-import"_s, locked, u"--db"_s, u"Locked"_s, u"--password-file"_s, passwordFile});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(u"Invalid password."_s), qPrintable(r.err));
        QVERIFY(!LocalDbFiles::list().contains(u"Locked.db"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("secret\n");
        file.close();
        r = cli({u"itunes-import"_s, locked, u"--db"_s, u"Locked"_s, u"--password-file"_s, passwordFile});
        QCOMPARE(r.code, 0);
        checkImported(contactsOf(u"Locked.db"_s));

        // A failed import leaves no database behind.
        r = cli({u"itunes-import"_s, brokenBackup(home), u"--db"_s, u"Broken"_s});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(u"file is not a database"_s), qPrintable(r.err));
        QCOMPARE(LocalDbFiles::list(), (QStringList{u"Plain Phone-backup.db"_s, u"Locked.db"_s}));
    }
};

QTEST_MAIN(TestItunesFlows)
#include "tst_itunesflows.moc"
