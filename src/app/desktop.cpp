#include "desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace Desktop {

bool openFolder(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool open(const QString &pathOrUrl)
{
    const QUrl url = QUrl::fromUserInput(pathOrUrl);
    return QDesktopServices::openUrl(url);
}

} // namespace Desktop
