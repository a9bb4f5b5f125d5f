#include "app/desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace Desktop {

namespace {
std::function<bool(const QUrl &)> &opener() // GUI thread only
{
    static std::function<bool(const QUrl &)> replaced;
    return replaced;
}

bool openUrl(const QUrl &url)
{
    return opener() ? opener()(url) : QDesktopServices::openUrl(url);
}
} // namespace

bool openFolder(const QString &path)
{
    return openUrl(QUrl::fromLocalFile(path));
}

bool open(const QString &pathOrUrl)
{
    return openUrl(QUrl::fromUserInput(pathOrUrl));
}

void setOpener(std::function<bool(const QUrl &)> replacement)
{
    opener() = std::move(replacement);
}

} // namespace Desktop
