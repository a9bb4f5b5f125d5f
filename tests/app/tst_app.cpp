#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "contactfixtures.h"
#include "contacts/backupcontactstolocalthread.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "temphome.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestApp : public QObject
{
    Q_OBJECT

    static void mouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }

    void styleSheetIsOneCachedResource()
    {
        const QString a = StyleSheet::load(QStringLiteral(":res/style.css"));
        QVERIFY(a.contains(QLatin1String("QPushButton")));
        QCOMPARE(StyleSheet::load(QStringLiteral(":/res/style.css")), a);
    }

    void messageBoxesAnswerAndShowTheirTexts()
    {
        MessageBox::queueAnswer(MessageBox::No);
        QVERIFY(!MessageBox::question(nullptr, QStringLiteral("Delete?")));
        MessageBox::queueAnswer(MessageBox::Yes);
        QVERIFY(MessageBox::question(nullptr, QStringLiteral("Delete?")));
        MessageBox::queueAnswer(MessageBox::Ok);
        MessageBox::error(nullptr, QStringLiteral("disk full"));
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown.at(0), QStringLiteral("Delete?"));
        // The error box: product header, the fixed opening, the text, then the support sentence.
        QVERIFY(shown.at(2).startsWith(QStringLiteral("<nobr><b>Tallowbrook Contact Mover v3.1.13</b></nobr><br/><br/>"
                                                      "An Error Occurred. <br/><br/>disk full<br/><br/>")));
        QVERIFY(shown.at(2).contains(QLatin1String("support@")));
    }

    void winMovableDragsWithTheLeftButtonOnly()
    {
        QWidget w;
        w.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        w.move(100, 100);
        new WinMovable(&w);
        const QPoint start = w.pos();

        mouse(&w, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
        mouse(&w, QEvent::MouseMove, {30, 25}, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(w.pos(), start + QPoint(20, 15));
        mouse(&w, QEvent::MouseButtonRelease, {30, 25}, Qt::LeftButton, Qt::NoButton);
        mouse(&w, QEvent::MouseMove, {50, 50}, Qt::NoButton, Qt::NoButton);
        QCOMPARE(w.pos(), start + QPoint(20, 15));

        // A right-button drag does not move the window.
        mouse(&w, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton, Qt::RightButton);
        mouse(&w, QEvent::MouseMove, {40, 40}, Qt::NoButton, Qt::RightButton);
        QCOMPARE(w.pos(), start + QPoint(20, 15));
    }

    void progressFormShowsWhatTheWorkerPosts()
    {
        ProgressForm form(QStringLiteral("Loading Contacts from Device"));
        auto *bar = form.findChild<QProgressBar *>(QStringLiteral("progressBar"));
        auto *text = form.findChild<QLabel *>(QStringLiteral("lbProgress"));
        auto *status = form.findChild<QLabel *>(QStringLiteral("lbStatus"));
        QVERIFY(bar && text && status);
        QCOMPARE(status->text(), QStringLiteral("Loading Contacts from Device"));
        QCOMPARE(form.size(), QSize(350, 122));

        form.updateProgress(QString(), 40, QString());
        QCOMPARE(bar->value(), 40);
        QCOMPARE(text->text(), QStringLiteral("Progress:40%"));
        form.updateProgress(QStringLiteral("Backing up"), -1, QStringLiteral("Contacts:4/10"));
        QCOMPARE(bar->value(), 40); // -1 keeps the bar
        QCOMPARE(status->text(), QStringLiteral("Backing up"));
        QCOMPARE(text->text(), QStringLiteral("Contacts:4/10"));
        form.updateProgress(QString(), -1, QString());
        QCOMPARE(status->text(), QStringLiteral("Backing up")); // an empty status keeps the line
        QCOMPARE(text->text(), QStringLiteral("Progress:40%"));
    }

    void progressFormCancelAsksFirst()
    {
        ProgressForm form(QStringLiteral("t"));
        QSignalSpy cancelled(&form, &ProgressForm::userCacel);
        form.open();
        MessageBox::queueAnswer(MessageBox::No);
        form.findChild<QPushButton *>(QStringLiteral("btnCancel"))->pressed();
        QVERIFY(form.isVisible());
        QVERIFY(!form.finishedWithoutSuccess());
        QCOMPARE(cancelled.size(), 0);

        MessageBox::queueAnswer(MessageBox::Yes);
        form.cancel();
        QCOMPARE(cancelled.size(), 1);
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), 0);
        QVERIFY(form.finishedWithoutSuccess());
        QCOMPARE(MessageBox::takeShownTexts(), (QStringList{QStringLiteral("Are You Sure You Want To Cancel?"),
                                                            QStringLiteral("Are You Sure You Want To Cancel?")}));

        // A success posted after the cancel changes nothing.
        form.succeed(QStringLiteral("late"));
        QVERIFY(form.finishedWithoutSuccess());
        QVERIFY(MessageBox::takeShownTexts().isEmpty());
    }

    // A whole operation as the window runs it: dialog, real worker thread, real database.
    void operationBehindTheDialog()
    {
        QTemporaryDir dir;
        LocalDb target(dir.filePath(QStringLiteral("t.db")), PContactCombineRule(new LocalDbCombineRule));
        target.createFromTemplate();
        const QList<pim::Contact> contacts{
            fixtures::person(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("1")),
            fixtures::person(QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("2"))};
        {
            ProgressForm form(trKey("IDS_STARTING_IMPORT_CONTACTS_FROM_DEVICE"));
            BackupContactsToLocalThread worker(contacts, &target, &form);
            MessageBox::queueAnswer(MessageBox::Ok);
            QVERIFY(form.runWorker(&worker));
            QCOMPARE(MessageBox::takeShownTexts(),
                     QStringList{QStringLiteral("Successfully backed up 2 contacts to the local database.")});
        }
        // A failing operation: the error box, and the operation counts as failed.
        target.db().executeThrow(
            "create trigger boom before insert on contact begin select raise(abort, 'no room'); end");
        ProgressForm form(QStringLiteral("t"));
        BackupContactsToLocalThread worker({fixtures::person(QStringLiteral("E"), QStringLiteral("F"))}, &target,
                                           &form);
        MessageBox::queueAnswer(MessageBox::Ok);
        QVERIFY(!form.runWorker(&worker));
        const QStringList shown = MessageBox::takeShownTexts();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().contains(QLatin1String("no room")));
    }

    // The real program, started as a user would: it must come up, create its data folder and keep running.
    void programStartsAndCreatesItsDataFolder()
    {
        TempHome home;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(CONTACT_MOVER_EXE), {});
        QVERIFY(program.waitForStarted());
        const QString data = home.path() + QStringLiteral("/Application Data/TallowBrook/") +
                             QLatin1String(DataFolder::kProductId) + QStringLiteral("/data");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(data).isDir(), 20000);
        QTest::qWait(300);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
