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
            QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), QByteArray("one"));
            {
                ScopedEnv inner("TB_SUPPORT_PROBE", "two");
                QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), QByteArray("two"));
            }
            QCOMPARE(qgetenv("TB_SUPPORT_PROBE"), QByteArray("one"));
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
        QCOMPARE(reader.read(buffer, 3), qint64(3));
        QCOMPARE(reader.read(buffer, 16), qint64(2)); // up to the failing byte, not beyond
        QCOMPARE(QByteArray(buffer, 2), QByteArray("de"));
        QCOMPARE(reader.read(buffer, 16), qint64(-1));
        QCOMPARE(reader.errorString(), QStringLiteral("disk unreadable"));

        FailingDevice shortContent("ab", 5);
        QCOMPARE(shortContent.readAll(), QByteArray("ab")); // the end of a short content is an end, not a failure
        QVERIFY(shortContent.errorString() != QStringLiteral("disk unreadable"));

        FailingDevice writer({}, 4, QIODevice::WriteOnly);
        QCOMPARE(writer.write("abc"), qint64(3));
        QCOMPARE(writer.write("def"), qint64(1));
        QCOMPARE(writer.write("g"), qint64(-1));
        QCOMPARE(writer.errorString(), QStringLiteral("disk full"));
        QCOMPARE(writer.written(), QByteArray("abcd"));
    }

    void programRunsTellExitCrashAndTimeoutApart()
    {
        const QString sh = QStringLiteral("/bin/sh");
        const QProcessEnvironment env = homeEnvironment(QStringLiteral("/nonexistent-home"));
        ProcessResult r =
            runProgram(sh, {QStringLiteral("-c"), QStringLiteral("echo $HOME; echo oops >&2; exit 3")}, env);
        QCOMPARE(r.code, 3);
        QCOMPARE(r.out, QByteArray("/nonexistent-home\n"));
        QCOMPARE(r.err, QByteArray("oops\n"));

        r = runProgram(sh, {QStringLiteral("-c"), QStringLiteral("kill -SEGV $$")}, env);
        QCOMPARE(r.code, -2);

        r = runProgram(sh, {QStringLiteral("-c"), QStringLiteral("exec sleep 20")}, env, 200);
        QCOMPARE(r.code, -1);
        QCOMPARE(r.err, QByteArray("timed out"));

        const QProcessEnvironment phones =
            phoneEnvironment(QStringLiteral("/h"), {QStringLiteral("127.0.0.1:1"), QStringLiteral("127.0.0.1:2")});
        QCOMPARE(phones.value(QStringLiteral("CONTACT_MOVER_ADB_TCP")), QStringLiteral("127.0.0.1:1,127.0.0.1:2"));
        QCOMPARE(phones.value(QStringLiteral("HOME")), QStringLiteral("/h"));
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
