#include "datafolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace DataFolder {

namespace {
QMutex cacheMutex;
QString cachedFolder; // the folder taken from the redirect file or the default, before the product sub-folder

QString productId()
{
    return QString::fromLatin1(kProductId);
}

QString ensured(const QString &path)
{
    QDir().mkpath(path);
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
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    file.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + text.toUtf8() + '\n');
}

} // namespace ErrorLog
