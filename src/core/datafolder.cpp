#include "datafolder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QUrl>

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
constexpr QFile::Permissions kGroupOrOthers = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                              | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

QString ensured(const QString &path)
{
    if (!QFileInfo(path).isDir()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        // Made owner-only at once, so nothing can be opened in it in between.
        QDir().mkdir(path, kOwnerOnlyDir);
    } else if (QFile::permissions(path) & kGroupOrOthers) {
        QFile::setPermissions(path, kOwnerOnlyDir);
    }
    return path;
}

QString computeFolder()
{
    const QString redirect = redirectFilePath();
    QFile file(redirect);
    if (file.open(QIODevice::ReadOnly)) {
        // The whole content is the path, untrimmed: a trailing line break makes it name nothing that exists.
        const QString target = QString::fromUtf8(file.readAll());
        if (!target.isEmpty() && QFileInfo::exists(target))
            return target;
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
        name = name.left(kMaxName - 41) + QLatin1Char('~')
               + QString::fromLatin1(QCryptographicHash::hash(deviceId.toUtf8(), QCryptographicHash::Sha1).toHex());
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
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|\n\r\t");
    for (QChar c : name)
        if (forbidden.contains(c))
            return false;
    return true;
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
    QFile file(path());
    // Error texts can name contacts and devices: a new log is created readable by its owner only.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text, QFile::ReadOwner | QFile::WriteOwner))
        return;
    file.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + text.toUtf8() + '\n');
}

} // namespace ErrorLog
