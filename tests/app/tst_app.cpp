#include "messagebox.h"
#include "stylesheet.h"
#include "temphome.h"
#include "texts.h"
#include "winmovable.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QProcess>
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
        QVERIFY(shown.at(2).startsWith(
            QStringLiteral("<nobr><b>Tallowbrook Contact Mover v3.1.13</b></nobr><br/><br/>"
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
        const QString data = home.path() + QStringLiteral("/Application Data/TallowBrook/")
                             + QLatin1String(DataFolder::kProductId) + QStringLiteral("/data");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(data).isDir(), 20000);
        QTest::qWait(300);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
