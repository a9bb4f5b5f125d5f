#include "core/datafolder.h"
#include "core/texts.h"
#include "temphome.h"
#include "testfiles.h"

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
        QTest::newRow("empty file") << QString() << false;
    }
    void redirectFile()
    {
        QFETCH(QString, content);
        QFETCH(bool, redirected);
        TempHome home;
        const QString target = home.filePath(QStringLiteral("elsewhere ü"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(writeFile(DataFolder::redirectFilePath(), QString(content).replace(QLatin1Char('@'), target).toUtf8()));
        QCOMPARE(DataFolder::redirectFilePath(),
                 home.path() + QStringLiteral("/Application Data/TallowBrook/") + kId + QStringLiteral(".redirect"));
        QVERIFY(DataFolder::problem().isEmpty());

        const QString expected = redirected ? target + QLatin1Char('/') + kId
                                            : home.path() + QStringLiteral("/Application Data/TallowBrook/") + kId;
        QCOMPARE(DataFolder::root(), expected);
        QVERIFY(QFileInfo(expected).isDir());
    }

    // A redirect to a folder that is not there (an unmounted drive, a trailing line break in the file) is an
    // error naming both: falling back would show another, empty folder and fill it unnoticed. Nothing is
    // created, not even the default folder.
    void redirectToAMissingFolderFails_data()
    {
        QTest::addColumn<QString>("content");
        QTest::newRow("missing folder") << QStringLiteral("@/nowhere");
        QTest::newRow("trailing line break") << QStringLiteral("@\n");
        QTest::newRow("unmounted drive") << QStringLiteral("/media/usb-stick-that-is-not-there/contacts");
    }
    void redirectToAMissingFolderFails()
    {
        QFETCH(QString, content);
        TempHome home;
        const QString target = home.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(target));
        const QString named = QString(content).replace(QLatin1Char('@'), target);
        QVERIFY(writeFile(DataFolder::redirectFilePath(), named.toUtf8()));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, DataFolder::root());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, LocalDbFiles::list());
        const QString problem = DataFolder::problem();
        QVERIFY2(problem.contains(named) && problem.contains(DataFolder::redirectFilePath()), qPrintable(problem));
        QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/Application Data/TallowBrook/") + kId));
        ErrorLog::append(QStringLiteral("no folder to log into")); // and no crash
    }

    // A relative redirect is taken from the redirect file's folder, wherever the program was started.
    void relativeRedirectFollowsTheRedirectFile()
    {
        TempHome home;
        const QString base = QFileInfo(DataFolder::redirectFilePath()).absolutePath();
        QVERIFY(QDir().mkpath(base + QStringLiteral("/../Contacts Data")));
        QVERIFY(writeFile(DataFolder::redirectFilePath(), "../Contacts Data"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QDir::rootPath()));
        const QString root = DataFolder::root();
        QDir::setCurrent(before);
        QCOMPARE(root, QDir::cleanPath(base + QStringLiteral("/../Contacts Data/")) + QLatin1Char('/') + kId);
    }

    void rootIsCachedAndRecreatedWhenRemoved()
    {
        TempHome home;
        const QString first = DataFolder::root();
        const QString target = home.filePath(QStringLiteral("later"));
        QDir().mkpath(target);
        QVERIFY(writeFile(DataFolder::redirectFilePath(), target.toUtf8()));
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
        QTest::newRow("spaces and letters")
            << QStringLiteral("Anna's phone 2") << true << QStringLiteral("Anna's phone 2.db");
        // Names that would make a hidden file, no file, or a name that shows as something else.
        QTest::newRow("empty") << QString() << false << QString();
        QTest::newRow("dot") << QStringLiteral(".") << false << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << false << QString();
        QTest::newRow("only the extension") << QStringLiteral(".db") << false << QString();
        QTest::newRow("hidden") << QStringLiteral(".work") << false << QString();
        QTest::newRow("bell") << QStringLiteral("a\u0007") << false << QString();
        QTest::newRow("delete") << QStringLiteral("a\u007f") << false << QString();
        QTest::newRow("right-to-left override") << QStringLiteral("cod\u202Egpj.db") << false << QString();
        QTest::newRow("left-to-right mark") << QStringLiteral("a\u200Eb") << false << QString();
        QTest::newRow("zero width space") << QStringLiteral("a\u200Bb") << false << QString();
        QTest::newRow("dot inside") << QStringLiteral("v1.2 contacts") << true << QStringLiteral("v1.2 contacts.db");
        QTest::newRow("Hebrew letters") << QStringLiteral("\u05D0\u05D1") << true << QStringLiteral("\u05D0\u05D1.db");
    }
    void localDbFileNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QFETCH(QString, file);
        QCOMPARE(LocalDbFiles::isValidName(name), valid);
        QCOMPARE(LocalDbFiles::nameProblem(name).isEmpty(), valid);
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
        QVERIFY(writeFile(LocalDbFiles::pathFor(QStringLiteral("notes.txt")), "x"));
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
                key.replace(QStringLiteral("\\\""), QStringLiteral("\""))
                    .replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
                // A universal character name in the source (\u201C) is the character itself in the key.
                static const QRegularExpression ucn(QStringLiteral("\\\\u([0-9A-Fa-f]{4})"));
                for (auto u = ucn.match(key); u.hasMatch(); u = ucn.match(key))
                    key.replace(u.capturedStart(), u.capturedLength(),
                                QChar(char16_t(u.captured(1).toUShort(nullptr, 16))));
                ++seen;
                if (key != QLatin1String("invalid libsqlite_qt.") &&
                    english.translate("Tallowbrook", key.toUtf8().constData()).isEmpty())
                    missing << key;
            }
        }
        QVERIFY(seen > 5);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(" | "))));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
