// The shared helpers that other tests lean on: a fault here would let those tests pass without testing anything.

#include "failingdevice.h"
#include "programrun.h"
#include "scopedenv.h"

#include <QTest>

class TestSupport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scopedEnvRestoresTheEarlierStateEvenWhenNested()
    {
        qunsetenv("TB_SUPPORT_PROBE");
        {
            ScopedEnv outer("TB_SUPPORT_PROBE", "one");
            QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), "one");
            {
                ScopedEnv inner("TB_SUPPORT_PROBE", "two");
                QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), "two");
            }
            QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), "one");
        }
        QVERIFY(!qEnvironmentVariableIsSet("TB_SUPPORT_PROBE"));

        // Set but empty stays set.
        qputenv("TB_SUPPORT_PROBE", "");
        {
            ScopedEnv guard("TB_SUPPORT_PROBE", "x");
        }
        QVERIFY(qEnvironmentVariableIsSet("TB_SUPPORT_PROBE"));
        QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), QByteArray());
        qunsetenv("TB_SUPPORT_PROBE");
    }

    void failingDeviceBreaksExactlyAtItsByte()
    {
        FailingDevice reader("abcdefgh", 5);
        char buffer[16];
        QCOMPARE(reader.read(buffer, 3), 3);
        QCOMPARE(reader.read(buffer, 16), 2); // up to the failing byte, not beyond
        QCOMPARE(QByteArray(buffer, 2), "de");
        QCOMPARE(reader.read(buffer, 16), -1);
        QCOMPARE(reader.errorString(), QStringLiteral("disk unreadable"));

        FailingDevice shortContent("ab", 5);
        QCOMPARE(shortContent.readAll(), "ab"); // the end of a short content is an end, not a failure
        QVERIFY(shortContent.errorString() != QStringLiteral("disk unreadable"));

        FailingDevice writer({}, 4, QIODevice::WriteOnly);
        QCOMPARE(writer.write("abc"), 3);
        QCOMPARE(writer.write("def"), 1);
        QCOMPARE(writer.write("g"), -1);
        QCOMPARE(writer.errorString(), QStringLiteral("disk full"));
        QCOMPARE(writer.written(), "abcd");
    }

    void programRunsTellExitCrashAndTimeoutApart()
    {
        const QString sh = QStringLiteral("/bin/sh");
        const QProcessEnvironment env = homeEnvironment(QStringLiteral("/nonexistent-home"));
        ProcessResult r =
            runProgram(sh, {QStringLiteral("-c"), QStringLiteral("echo $HOME; echo oops >&2; exit 3")}, env);
        QCOMPARE(r.code, 3);
        QCOMPARE(r.out, "/nonexistent-home\n");
        QCOMPARE(r.err, "oops\n");

        r = runProgram(sh, {QStringLiteral("-c"), QStringLiteral("kill -SEGV $$")}, env);
        QCOMPARE(r.code, -2);

        r = runProgram(sh, {QStringLiteral("-c"), QStringLiteral("sleep 20")}, env, 200);
        QCOMPARE(r.code, -1);
        QCOMPARE(r.err, "timed out");

        const QProcessEnvironment phones =
            phoneEnvironment(QStringLiteral("/h"), {QStringLiteral("127.0.0.1:1"), QStringLiteral("127.0.0.1:2")});
        QCOMPARE(phones.value(QStringLiteral("CONTACT_MOVER_ADB_TCP")), QStringLiteral("127.0.0.1:1,127.0.0.1:2"));
        QCOMPARE(phones.value(QStringLiteral("HOME")), QStringLiteral("/h"));
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
