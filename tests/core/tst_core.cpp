#include "datafolder.h"
#include "temphome.h"
#include "texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTranslator>

namespace {
const QString kId = QString::fromLatin1(DataFolder::kProductId);

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}
} // namespace

class TestCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rootWithoutRoamingFolderUsesApplicationData()
    {
        TempHome home;
        const QString root = DataFolder::root();
        QCOMPARE(root, home.path() + QStringLiteral("/Application Data/TallowBrook/") + kId);
        QVERIFY(QFileInfo(root).isDir());
    }

    void rootUnderRoamingFolderWhenItExists()
    {
        TempHome home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("AppData/Roaming")));
        QCOMPARE(DataFolder::root(), home.path() + QStringLiteral("/AppData/Roaming/TallowBrook/") + kId);
        QCOMPARE(DataFolder::localDbDir(), DataFolder::root() + QStringLiteral("/data"));
        QVERIFY(QFileInfo(DataFolder::androidCacheDir()).isDir());
        QVERIFY(QFileInfo(DataFolder::iosCacheDir()).isDir());
    }

    void redirectFile_data()
    {
        QTest::addColumn<QString>("content"); // "@" stands for the redirect target folder
        QTest::addColumn<bool>("redirected");
        QTest::newRow("existing folder") << QStringLiteral("@") << true;
        QTest::newRow("trailing line break") << QStringLiteral("@\n") << false;
        QTest::newRow("missing folder") << QStringLiteral("@/nowhere") << false;
        QTest::newRow("empty file") << QString() << false;
    }
    void redirectFile()
    {
        QFETCH(QString, content);
        QFETCH(bool, redirected);
        TempHome home;
        const QString target = home.filePath(QStringLiteral("elsewhere ü"));
        QVERIFY(QDir().mkpath(target));
        writeFile(DataFolder::redirectFilePath(), QString(content).replace(QLatin1Char('@'), target).toUtf8());
        QCOMPARE(DataFolder::redirectFilePath(),
                 home.path() + QStringLiteral("/Application Data/TallowBrook/") + kId + QStringLiteral(".redirect"));

        const QString expected = redirected ? target + QLatin1Char('/') + kId
                                            : home.path() + QStringLiteral("/Application Data/TallowBrook/") + kId;
        QCOMPARE(DataFolder::root(), expected);
        QVERIFY(QFileInfo(expected).isDir());
    }

    void rootIsCachedAndRecreatedWhenRemoved()
    {
        TempHome home;
        const QString first = DataFolder::root();
        const QString target = home.filePath(QStringLiteral("later"));
        QDir().mkpath(target);
        writeFile(DataFolder::redirectFilePath(), target.toUtf8());
        QCOMPARE(DataFolder::root(), first); // the redirect takes effect at the next start only
        QVERIFY(QDir(first).removeRecursively());
        QCOMPARE(DataFolder::root(), first);
        QVERIFY(QFileInfo(first).isDir());
    }

    void localDbFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("file");
        QTest::newRow("plain") << QStringLiteral("Work") << true << QStringLiteral("Work.db");
        QTest::newRow("has extension") << QStringLiteral("Work.db") << true << QStringLiteral("Work.db");
        QTest::newRow("upper-case extension") << QStringLiteral("Work.DB") << true << QStringLiteral("Work.DB.db");
        QTest::newRow("colon") << QStringLiteral("a:b") << false << QString();
        QTest::newRow("slash") << QStringLiteral("a/b") << false << QString();
        QTest::newRow("quote") << QStringLiteral("a\"b") << false << QString();
        QTest::newRow("tab") << QStringLiteral("a\tb") << false << QString();
        QTest::newRow("line feed") << QStringLiteral("a\n") << false << QString();
        QTest::newRow("spaces and letters") << QStringLiteral("Anna's phone 2") << true
                                            << QStringLiteral("Anna's phone 2.db");
    }
    void localDbFileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QFETCH(QString, file);
        QCOMPARE(LocalDbFiles::isValidName(name), valid);
        if (valid)
            QCOMPARE(LocalDbFiles::fileNameFor(name), file);
    }

    void localDbListIsOldestFirstAndFilesOnly()
    {
        TempHome home;
        const QDateTime now = QDateTime::currentDateTime();
        const QStringList names{QStringLiteral("b.db"), QStringLiteral("c.db"), QStringLiteral("a.db")};
        for (int i = 0; i < names.size(); ++i) {
            QFile f(LocalDbFiles::pathFor(names.at(i)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.setFileTime(now.addSecs(-100 + i * 10), QFileDevice::FileModificationTime));
        }
        QDir().mkpath(LocalDbFiles::pathFor(QStringLiteral("folder.db")));
        writeFile(LocalDbFiles::pathFor(QStringLiteral("notes.txt")), "x");
        QCOMPARE(LocalDbFiles::list(), names);
    }

    void englishTranslation()
    {
        QVERIFY(installEnglishTranslation(*QCoreApplication::instance()));
        QCOMPARE(trKey("IDS_ROOT_DEVICE"), QStringLiteral("Devices"));
        QCOMPARE(trKey("IDS_SEARCH_KEYWORKD_%1").arg(QStringLiteral("ann")), QStringLiteral("Keyword:ann"));
        QCOMPARE(trKey("invalid libsqlite_qt."), QStringLiteral("invalid libsqlite_qt."));
        QCOMPARE(Product::titleWithVersion(), QStringLiteral("Tallowbrook Contact Mover v3.1.13"));
    }

    // Every text the code looks up must have an entry, or the user would see a bare IDS_ key.
    void everyLookedUpKeyHasAnEntry()
    {
        QTranslator english;
        QVERIFY(english.load(QStringLiteral(":/en.qm")));
        const QRegularExpression call(QStringLiteral("trKey\\(\"((?:[^\"\\\\]|\\\\.)*)\"\\)"));
        QStringList missing;
        int seen = 0;
        QDirIterator it(QStringLiteral(SOURCE_DIR "/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(f.readAll());
            for (const auto &m : call.globalMatch(text)) {
                QString key = m.captured(1);
                key.replace(QStringLiteral("\\\""), QStringLiteral("\"")).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
                ++seen;
                if (key != QLatin1String("invalid libsqlite_qt.")
                    && english.translate("Tallowbrook", key.toUtf8().constData()).isEmpty())
                    missing << key;
            }
        }
        QVERIFY(seen > 5);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(" | "))));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
