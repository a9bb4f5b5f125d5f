#include "app/webpages.h"

#include "android/adbsetup.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QDir>
#include <QFile>

#include "sqlite_qt/sqlite_qt.h"

namespace WebPages {

QString writeHelpPage()
{
    QFile source(QStringLiteral(":/help/index.html"));
    if (!source.open(QIODevice::ReadOnly))
        return QString();
    const QString folder = DataFolder::root() + QStringLiteral("/help");
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/index.html");
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate) || target.write(source.readAll()) < 0)
        return QString();
    return path;
}

QString supportAddress()
{
    return QStringLiteral("support@tallowbrook.com");
}

QString supportMail()
{
    return QStringLiteral("mailto:") + supportAddress() + QStringLiteral("?subject=Tallowbrook%20Contact%20Mover%20") +
           QLatin1String(Product::kVersion);
}

QString downloadPage()
{
    return QStringLiteral("https://www.tallowbrook.com/contact-mover/download");
}

QString aboutText()
{
    QString text = QStringLiteral("<p>%1</p><p>Qt %2<br/>SQLite %3</p><p>Data folder:<br/>%4</p>")
                       .arg(trKey("Tallowbrook Contact Mover").toHtmlEscaped(), QLatin1String(qVersion()),
                            QLatin1String(sqlite_qt_engine_version()), DataFolder::root().toHtmlEscaped());
    // The route to Android phones chosen at start (made by the device poller when not yet chosen).
    if (const std::optional<adbroute::Route> route = adbroute::chosen())
        text += QStringLiteral("<p>") + AdbSetup::routeText(*route).toHtmlEscaped() + QStringLiteral("</p>");
    return text;
}

} // namespace WebPages
