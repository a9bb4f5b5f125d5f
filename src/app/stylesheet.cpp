#include "app/stylesheet.h"

#include <QFile>
#include <QHash>
#include <QMutex>

namespace StyleSheet {

QString load(const QString &resourcePath)
{
    static QMutex mutex;
    static QHash<QString, QString> cache;

    // ":res/x" and ":/res/x" are one resource: key the cache by the normalised form.
    QString path = resourcePath;
    if (path.startsWith(QLatin1Char(':')) && !path.startsWith(QLatin1String(":/")))
        path.insert(1, QLatin1Char('/'));

    QMutexLocker lock(&mutex);
    auto it = cache.constFind(path);
    if (it != cache.constEnd())
        return *it;
    QFile file(path);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    cache.insert(path, text);
    return text;
}

} // namespace StyleSheet
