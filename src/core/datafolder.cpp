#include "core/datafolder.h"

#include "core/texts.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QUrl>

#include <stdexcept>

#include <sys/stat.h>

namespace DataFolder {

namespace {
QMutex cacheMutex;
QString cachedFolder; // the folder taken from the redirect file or the default, before the product sub-folder

QString productId()
{
    return QString::fromLatin1(kProductId);
}

// The data folder and everything in it hold personal data: owner only, whatever the umask. A folder made
// earlier with wider permissions is narrowed too.
constexpr QFile::Permissions kOwnerOnlyDir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QString ensured(const QString &path)
{
    if (!QFileInfo(path).isDir()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        // Made owner-only at once, so nothing can be opened in it in between.
        QDir().mkdir(path, kOwnerOnlyDir);
    } else {
        // Group and others lose their access; the owner's bits stay as the user set them (a folder the user
        // made read-only stays read-only).
        struct stat info
        {
        };
        const QByteArray native = QFile::encodeName(path);
        if (::stat(native.constData(), &info) == 0 && (info.st_mode & 077) != 0)
            ::chmod(native.constData(), info.st_mode & 07700);
    }
    return path;
}

// The folder named by the redirect file, the default folder without one. A redirect naming a folder that does
// not exist (an unmounted drive) is an error: falling back would show and fill another folder unnoticed. A
// relative path is taken from the redirect file's own folder, not from wherever the program was started.
QString computeFolder()
{
    const QString redirect = redirectFilePath();
    QFile file(redirect);
    if (file.open(QIODevice::ReadOnly)) {
        // The whole content is the path, untrimmed.
        QString target = QString::fromUtf8(file.readAll());
        if (!target.isEmpty()) {
            if (QDir::isRelativePath(target))
                target = QDir::cleanPath(QFileInfo(redirect).absolutePath() + QLatin1Char('/') + target);
            if (!QFileInfo::exists(target))
                throw std::runtime_error(
                    QStringLiteral("The data folder \"%1\" named in %2 does not exist (is its drive connected?).")
                        .arg(target, redirect)
                        .toStdString());
            return target;
        }
    }
    return baseFolder() + QStringLiteral("/TallowBrook");
}
} // namespace

QString baseFolder()
{
    const QString home = QDir::homePath();
    const QString roaming = home + QStringLiteral("/AppData/Roaming");
    if (QFileInfo(roaming).isDir())
        return roaming;
    return home + QStringLiteral("/Application Data");
}

QString redirectFilePath()
{
    return baseFolder() + QStringLiteral("/TallowBrook/") + productId() + QStringLiteral(".redirect");
}

QString root()
{
    QMutexLocker lock(&cacheMutex);
    if (cachedFolder.isEmpty())
        cachedFolder = computeFolder();
    return ensured(QDir::cleanPath(cachedFolder + QLatin1Char('/') + productId()));
}

QString problem()
{
    try {
        root();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

QString localDbDir()
{
    return ensured(root() + QStringLiteral("/data"));
}

QString androidCacheDir()
{
    return ensured(root() + QStringLiteral("/android_cache"));
}

QString iosCacheDir()
{
    return ensured(root() + QStringLiteral("/ios_cache"));
}

QString tempDir()
{
    return ensured(root() + QStringLiteral("/tmp"));
}

bool holds(const QString &path)
{
    const QFileInfo info(path);
    // A file that does not exist yet is placed by its folder, resolved through links.
    QString resolved = info.exists() ? info.canonicalFilePath() : QString();
    if (resolved.isEmpty()) {
        const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
        resolved = folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
    }
    const QString home = QFileInfo(root()).canonicalFilePath();
    if (!home.isEmpty() && (resolved == home || resolved.startsWith(home + QLatin1Char('/'))))
        return true;

    struct stat target
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &target) != 0 || !S_ISREG(target.st_mode))
        return false;
    for (const QString &folder : {localDbDir(), androidCacheDir(), iosCacheDir()}) {
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo &file : files) {
            struct stat own
            {
            };
            if (::stat(QFile::encodeName(file.absoluteFilePath()).constData(), &own) == 0 &&
                own.st_dev == target.st_dev && own.st_ino == target.st_ino)
                return true;
        }
    }
    return false;
}

QString cacheFileName(const QString &deviceId)
{
    QString name = QString::fromLatin1(QUrl::toPercentEncoding(deviceId, ":"));
    if (name.isEmpty())
        name = QStringLiteral("%empty"); // no encoded id looks like this
    if (name.startsWith(QLatin1Char('.')))
        name = QStringLiteral("%2E") + name.mid(1);
    // File names hold at most 255 bytes: keep the start readable and make the rest unique.
    constexpr int kMaxName = 160;
    if (name.size() > kMaxName)
        name = name.left(kMaxName - 41) + QLatin1Char('~') +
               QString::fromLatin1(QCryptographicHash::hash(deviceId.toUtf8(), QCryptographicHash::Sha1).toHex());
    return name;
}

void resetCache()
{
    QMutexLocker lock(&cacheMutex);
    cachedFolder.clear();
}

} // namespace DataFolder

namespace LocalDbFiles {

QString fileNameFor(const QString &name)
{
    return name.endsWith(QLatin1String(".db")) ? name : name + QStringLiteral(".db");
}

bool isValidName(const QString &name)
{
    return nameProblem(name).isEmpty();
}

QString nameProblem(const QString &name)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    if (name.trimmed().isEmpty())
        return trKey("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME");
    for (QChar c : name) {
        if (forbidden.contains(c))
            return trKey("IDS_INVALID_LOCALDB_NAME");
        const char16_t u = c.unicode();
        const bool control = c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        const bool direction =
            (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F || u == 0x061C;
        if (control || direction)
            return trKey("IDS_LOCALDB_NAME_INVISIBLE_CHARACTER_%1")
                .arg(QString::number(u, 16).rightJustified(4, QLatin1Char('0')).toUpper());
    }
    if (name.startsWith(QLatin1Char('.')))
        return trKey("IDS_LOCALDB_NAME_STARTS_WITH_DOT");
    return QString();
}

QString pathFor(const QString &fileName)
{
    return DataFolder::localDbDir() + QLatin1Char('/') + fileName;
}

QStringList list()
{
    QDir dir(DataFolder::localDbDir());
    return dir.entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Time | QDir::Reversed);
}

} // namespace LocalDbFiles

namespace ErrorLog {

QString path()
{
    return DataFolder::root() + QStringLiteral("/errors.log");
}

void append(const QString &text)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    QString logPath;
    try {
        logPath = path();
    } catch (const std::exception &) {
        return; // no data folder (a redirect to a missing folder): the error box itself says so
    }
    QFile file(logPath);
    // Error texts can name contacts and devices: a new log is created readable by its owner only.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text, QFile::ReadOwner | QFile::WriteOwner))
        return;
    file.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + text.toUtf8() + '\n');
}

} // namespace ErrorLog
