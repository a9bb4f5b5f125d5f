// Personal data on disk: the data folder and its sub-folders are the owner's alone, whatever the umask and
// however an older run left them, and so is the error log.

#include "core/datafolder.h"
#include "core/privatetemp.h"
#include "temphome.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestDataFolderRobust : public QObject
{
    Q_OBJECT

    static mode_t modeOf(const QString &path)
    {
        struct stat st
        {
        };
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

    // Permissions are only ever narrowed: a folder the user made read-only (555) keeps its owner's bits and
    // loses only the others'; it was made 700 (writable again) on every start.
    void userPermissionsAreNeverWidened()
    {
        TempHome home;
        const QString root = DataFolder::root();
        const QString data = DataFolder::localDbDir();
        QVERIFY(::chmod(QFile::encodeName(data).constData(), 0555) == 0);
        QVERIFY(::chmod(QFile::encodeName(root).constData(), 0750) == 0);
        DataFolder::resetCache();
        QCOMPARE(DataFolder::localDbDir(), data);
        QCOMPARE(modeOf(data), mode_t(0500));
        QCOMPARE(modeOf(root), mode_t(0700));
        ::chmod(QFile::encodeName(data).constData(), 0700);
    }

    // Private folders for deciphered files: owner-only inside the data folder, gone with their object, gone
    // when a signal handler calls removeAllNow, and left-overs of a killed process go at the next use.
    void privateFolders()
    {
        TempHome home;
        QString path;
        {
            PrivateTempDir temp(u"itunes"_s);
            QVERIFY(temp.isValid());
            path = temp.path();
            QVERIFY(path.startsWith(DataFolder::root() + u"/tmp/itunes-"_s + QString::number(::getpid()) + u'-'));
            QCOMPARE(modeOf(path), mode_t(0700));
            QCOMPARE(modeOf(PrivateTempDir::parentFolder()), mode_t(0700));
            QFile f(temp.filePath(u"AddressBook.sqlitedb"_s));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(!QFileInfo::exists(path));

        // What a signal handler does before the process ends: in a child, so that nothing else runs after it.
        const pid_t child = ::fork();
        if (child == 0) {
            PrivateTempDir temp(u"itunes"_s);
            QDir().mkpath(temp.filePath(u"sub"_s));
            QFile f(temp.filePath(u"sub/Manifest-decrypted.db"_s));
            f.open(QIODevice::WriteOnly);
            f.close();
            PrivateTempDir::removeAllNow();
            ::_exit(QDir(PrivateTempDir::parentFolder()).isEmpty() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);

        // A folder of a process that no longer runs goes; one of a running process (ours) stays.
        pid_t gone = 999999;
        while (::kill(gone, 0) == 0 || errno != ESRCH)
            --gone;
        const QString stale = PrivateTempDir::parentFolder() + u"/itunes-%1-AbC123"_s.arg(gone);
        const QString alive = PrivateTempDir::parentFolder() + u"/itunes-%1-XyZ789"_s.arg(::getppid());
        QVERIFY(QDir().mkpath(stale + u"/x"_s));
        QVERIFY(QDir().mkpath(alive));
        PrivateTempDir next(u"backup"_s);
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(alive));
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
