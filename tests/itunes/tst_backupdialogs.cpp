// The backup list and password dialogs, headless: what the list shows, loading with and without a selection,
// adding folders by hand (new, already listed, not a backup), the column widths, and the password check on its
// thread against a backup written by backup-maker.

#include "app/itemmodelloadbk.h"
#include "app/loaditunesbackupdlg.h"
#include "app/messagebox.h"
#include "app/passcodedlg.h"
#include "core/texts.h"
#include "itunes/backupmanifest.h"
#include "itunestesthelpers.h"
#include "temphome.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <utime.h>

using namespace Qt::StringLiterals;
using namespace itunesfx;

namespace {

// A folder the list accepts: Manifest.plist and an (empty) Manifest.mbdb, named after the device id.
QString plainBackup(const QString &parent, const QString &udid, const QString &name)
{
    const QString folder = parent + u'/' + udid;
    writeFile(folder + u"/Manifest.plist"_s,
              manifestPlist(udid, name, QDateTime(QDate(2024, 5, 6), QTime(7, 8), Qt::UTC)));
    writeFile(folder + u"/Manifest.mbdb"_s, QByteArray("mbdb\x05\x00", 6));
    return folder;
}

QString secondRoot()
{
    const QString root = BackupManifest::backupRoots().constLast();
    QDir().mkpath(root);
    return root;
}

} // namespace

class TestBackupDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(installEnglishTranslation(*QCoreApplication::instance())); }
    void cleanup() { MessageBox::takeShownTexts(); }

    void emptyListAsksForASelection()
    {
        TempHome home;
        LoadItunesBackupDlg dlg;
        QCOMPARE(dlg.model()->rowCount(), 0);
        MessageBox::queueAnswer(MessageBox::Ok);
        dlg.btnLoadClicked();
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Need to select an iTunes Backup to continue."_s});
        QVERIFY(!dlg.selectedManifest());
        QVERIFY(dlg.result() != QDialog::Accepted);
    }

    void listsBackupsAndLoadsTheChosenOne()
    {
        TempHome home;
        const QString root = secondRoot();
        const QString first = plainBackup(root, u"1111aaaa"_s, u"Ada's iPhone"_s);
        const QString second = plainBackup(root, u"2222bbbb"_s, u"Grace's iPad"_s);
        // Oldest first: the second folder is made older than the first.
        struct utimbuf old
        {
            1000000000, 1000000000
        };
        QVERIFY(::utime(QFile::encodeName(second).constData(), &old) == 0);
        // A folder whose description cannot be read is reported and left out.
        QDir().mkpath(root + u"/broken/Manifest.plist"_s);
        writeFile(root + u"/broken/Manifest.db"_s, "x");

        MessageBox::queueAnswer(MessageBox::Ok);
        LoadItunesBackupDlg dlg;
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(u"load %1 error. "_s.arg(root + u"/broken"_s)), qPrintable(shown.first()));

        ItemModelLoadBk *model = dlg.model();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->columnCount(), 3);
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), u"Backup Date"_s);
        QCOMPARE(model->index(0, 0).data().toString(), u"Grace's iPad"_s);
        QCOMPARE(model->index(0, 2).data().toString(), second);
        QCOMPARE(model->index(1, 0).data(Qt::ToolTipRole).toString(), u"Ada's iPhone"_s);
        QVERIFY(!model->index(1, 1).data().toString().isEmpty());
        // Rows alternate, light grey first.
        QCOMPARE(model->index(0, 2).data(Qt::BackgroundRole).value<QColor>(), QColor(250, 250, 250));
        QCOMPARE(model->index(1, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));
        QCOMPARE(model->index(0, 1).data(Qt::SizeHintRole).toSize().height(), 25);
        QVERIFY(!model->index(0, 0).data(Qt::DecorationRole).isNull());
        QVERIFY(model->index(0, 1).data(Qt::DecorationRole).isNull());
        QVERIFY(!dlg.list()->currentIndex().isValid());

        // A double click on a row loads it.
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QRect rect = dlg.list()->visualRect(model->index(1, 0));
        QTest::mouseClick(dlg.list()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(dlg.list()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(dlg.selectedManifest());
        QCOMPARE(dlg.selectedManifest()->folder().absolutePath(), first);
        QCOMPARE(dlg.selectedManifest()->deviceName(), u"Ada's iPhone"_s);
    }

    void addingFolders()
    {
        TempHome home;
        const QString listed = plainBackup(secondRoot(), u"1111aaaa"_s, u"Ada's iPhone"_s);
        LoadItunesBackupDlg dlg;
        QCOMPARE(dlg.model()->rowCount(), 1);

        // The folder of a listed backup, also when reached through ".." and a trailing slash.
        for (const QString &same : {listed, listed + u"/../1111aaaa/"_s}) {
            LoadItunesBackupDlg::queueFolderChoice(same);
            MessageBox::queueAnswer(MessageBox::Ok);
            dlg.btnAddOtherClicked(u"#"_s);
            QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"This iTunes Backup has been listed on the left."_s});
            QCOMPARE(dlg.model()->rowCount(), 1);
        }

        // A folder that is no backup; its name, markup included, is shown as written.
        const QString empty = home.filePath(u"empty <b>&amp;"_s);
        QDir().mkpath(empty);
        LoadItunesBackupDlg::queueFolderChoice(empty);
        MessageBox::queueAnswer(MessageBox::Ok);
        dlg.btnAddOtherClicked(u"#"_s);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(u"load %1 error. Cannot find %1/Manifest.plist"_s.arg(empty.toHtmlEscaped())),
                 qPrintable(shown.first()));
        QCOMPARE(dlg.model()->rowCount(), 1);

        // The chooser cancelled: nothing happens.
        LoadItunesBackupDlg::queueFolderChoice(QString());
        dlg.btnAddOtherClicked(u"#"_s);
        QVERIFY(MessageBox::takeShownTexts().isEmpty());

        // A backup elsewhere (only Manifest.plist is needed) is appended, made current and loaded.
        const QString elsewhere = home.filePath(u"usb-stick/backup"_s);
        writeFile(elsewhere + u"/Manifest.plist"_s,
                  manifestPlist(u"3333cccc"_s, u"Old iPod"_s, QDateTime::currentDateTimeUtc()));
        LoadItunesBackupDlg::queueAddFolderAnswer(elsewhere);
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QCOMPARE(dlg.model()->rowCount(), 2);
        QCOMPARE(dlg.model()->index(1, 0).data().toString(), u"Old iPod-backup"_s);
        QCOMPARE(dlg.selectedManifest()->folder().absolutePath(), elsewhere);
    }

    void columnsShareTheWidth()
    {
        TempHome home;
        LoadItunesBackupDlg dlg;
        dlg.show();
        dlg.resize(1080, 400);
        QCOMPARE(dlg.width(), 1080);
        QCOMPARE(dlg.list()->columnWidth(0), 400);
        QCOMPARE(dlg.list()->columnWidth(1), 250);
        QCOMPARE(dlg.list()->columnWidth(2), 350);
    }

    // The password check on its thread behind the progress dialog: empty, wrong (the field is cleared), right.
    void passwordIsCheckedOnItsThread()
    {
        TempHome home;
        const QString seed = home.filePath(u"seed.vcf"_s);
        writeFile(seed, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nEND:VCARD\r\n");
        const QString folder = home.filePath(u"locked"_s);
        QProcess maker;
        maker.start(QStringLiteral(BACKUP_MAKER),
                    {folder, u"--seed"_s, seed, u"--password"_s, u"secret"_s, u"--iterations"_s, u"10,10"_s});
        QVERIFY(maker.waitForFinished(60000));
        QCOMPARE(maker.exitCode(), 0);
        const PBackupManifest manifest(new BackupManifest(folder));
        manifest->readInfo();
        QVERIFY(manifest->isEncrypted());

        PasscodeDlg dlg(manifest);
        auto *field = dlg.findChild<QLineEdit *>(u"txtPasscode"_s);
        QVERIFY(field);
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(field->placeholderText(), u"Enter password"_s);

        MessageBox::queueAnswer(MessageBox::Ok);
        dlg.btnOKPressed();
        MessageBox::queueAnswer(MessageBox::Ok);
        field->setText(u"wrong"_s);
        dlg.btnOKPressed();
        QCOMPARE(MessageBox::takeShownTexts(), (QStringList{u"Password is required."_s, u"Invalid password."_s}));
        QCOMPARE(field->text(), QString());
        QVERIFY(dlg.result() != QDialog::Accepted);
        QVERIFY(manifest->password().isEmpty());

        PasscodeDlg::queueAnswer(u"secret"_s);
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QCOMPARE(dlg.password(), u"secret"_s);
        QCOMPARE(manifest->password(), u"secret"_s);
        // The newer keybag deciphered Manifest.db: the file table can be read now.
        manifest->load();
        QVERIFY(manifest->addressBookRecord());
    }

    // The password check of a backup with ten million iterations can be cancelled (the button was off, and the
    // check ran for seconds; near 2^31 iterations for most of an hour): the dialog comes back at once, with no
    // "Invalid password". A count above what iOS writes is a damaged backup: said once, and the dialog closes.
    void passwordCheckCancelsAndDamageIsNoWrongPassword()
    {
        TempHome home;
        const QString seed = home.filePath(u"seed.vcf"_s);
        writeFile(seed, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lovelace;Ada;;;\r\nEND:VCARD\r\n");
        const QString folder = home.filePath(u"locked"_s);
        QProcess maker;
        maker.start(QStringLiteral(BACKUP_MAKER),
                    {folder, u"--seed"_s, seed, u"--password"_s, u"secret"_s, u"--iterations"_s, u"10,10"_s});
        QVERIFY(maker.waitForFinished(60000));
        QCOMPARE(maker.exitCode(), 0);
        QVERIFY(setKeybagNumber(folder, "DPIC", 10'000'000));

        const PBackupManifest manifest(new BackupManifest(folder));
        manifest->readInfo();
        PasscodeDlg dlg(manifest);
        auto *field = dlg.findChild<QLineEdit *>(u"txtPasscode"_s);
        QVERIFY(field);
        field->setText(u"secret"_s);
        bool cancelEnabled = false;
        QTimer::singleShot(300, this, [&cancelEnabled] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *button = w->findChild<QPushButton *>(u"btnCancel"_s);
                if (button && w->isVisible() && w->inherits("ProgressForm")) {
                    cancelEnabled = button->isEnabled();
                    MessageBox::queueAnswer(MessageBox::Yes); // "Are you sure you want to cancel?"
                    Q_EMIT button->pressed();
                }
            }
        });
        QElapsedTimer clock;
        clock.start();
        dlg.btnOKPressed();
        QVERIFY(cancelEnabled);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(MessageBox::takeShownTexts(), QStringList{u"Are You Sure You Want To Cancel?"_s});
        QCOMPARE(field->text(), u"secret"_s); // back to the field as it was
        QVERIFY(manifest->password().isEmpty());

        QVERIFY(setKeybagNumber(folder, "DPIC", 0x7ffffff0));
        const PBackupManifest damaged(new BackupManifest(folder));
        damaged->readInfo();
        PasscodeDlg second(damaged);
        MessageBox::queueAnswer(MessageBox::Ok);
        PasscodeDlg::queueAnswer(u"secret"_s);
        clock.restart();
        QCOMPARE(second.exec(), int(QDialog::Rejected));
        QVERIFY(clock.elapsed() < 3000);
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(u"damaged"_s), qPrintable(shown.first()));
    }
};

QTEST_MAIN(TestBackupDialogs)
#include "tst_backupdialogs.moc"
