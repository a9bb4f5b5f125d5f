// Personal data on disk: the data folder and its sub-folders are the owner's alone, whatever the umask and
// however an older run left them, and so is the error log.

#include "datafolder.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestDataFolderRobust : public QObject
{
    Q_OBJECT

    static mode_t modeOf(const QString &path)
    {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return 07777;
        return st.st_mode & 07777;
    }

private Q_SLOTS:
    void init() { m_oldMask = ::umask(022); }
    void cleanup() { ::umask(m_oldMask); }

    void foldersAreOwnerOnly()
    {
        TempHome home;
        const QStringList folders{DataFolder::root(), DataFolder::localDbDir(), DataFolder::androidCacheDir(),
                                  DataFolder::iosCacheDir()};
        for (const QString &folder : folders)
            QCOMPARE(modeOf(folder), mode_t(0700));
    }

    // A folder that an earlier version (or a copy by hand) left readable by others is narrowed on first use.
    void widerFoldersAreNarrowed()
    {
        TempHome home;
        const QString root = DataFolder::root();
        const QString data = root + u"/data"_s;
        QVERIFY(QDir().mkpath(data));
        QVERIFY(::chmod(QFile::encodeName(root).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(data).constData(), 0777) == 0);
        DataFolder::resetCache();
        QCOMPARE(DataFolder::localDbDir(), data);
        QCOMPARE(modeOf(root), mode_t(0700));
        QCOMPARE(modeOf(data), mode_t(0700));
    }

    // A redirected data folder: only the product's own folder inside the chosen one is narrowed.
    void redirectTargetKeepsItsMode()
    {
        TempHome home;
        const QString chosen = home.filePath(u"shared place"_s);
        QVERIFY(QDir().mkpath(chosen));
        QVERIFY(::chmod(QFile::encodeName(chosen).constData(), 0755) == 0);
        const QString redirect = DataFolder::redirectFilePath();
        QVERIFY(QDir().mkpath(QFileInfo(redirect).absolutePath()));
        QFile file(redirect);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(chosen.toUtf8());
        file.close();
        DataFolder::resetCache();
        const QString root = DataFolder::root();
        QVERIFY2(root.startsWith(chosen + u'/'), qPrintable(root));
        QCOMPARE(modeOf(root), mode_t(0700));
        QCOMPARE(modeOf(chosen), mode_t(0755));
    }

    void errorLogIsOwnerOnly()
    {
        TempHome home;
        ErrorLog::append(u"Failed to save Anna Berg, +1 555 0100"_s);
        QVERIFY(QFile::exists(ErrorLog::path()));
        QCOMPARE(modeOf(ErrorLog::path()), mode_t(0600));
    }

private:
    mode_t m_oldMask = 022;
};

QTEST_GUILESS_MAIN(TestDataFolderRobust)
#include "tst_datafolderrobust.moc"
