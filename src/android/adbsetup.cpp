#include "android/adbsetup.h"

#include "core/texts.h"

namespace AdbSetup {

bool endServerRequested(const QStringList &arguments)
{
    return arguments.contains(QLatin1String(kEndServerOption));
}

adbroute::Route chooseRoute(bool endServer)
{
    return adbroute::choose(endServer);
}

QString routeText(const adbroute::Route &route)
{
    QString text = route.kind == adbroute::Kind::Server
                       ? trKey("IDS_ADB_ROUTE_SERVER_%1_%2").arg(route.port).arg(route.serverVersion)
                       : trKey("IDS_ADB_ROUTE_DIRECT_%1").arg(route.port);
    if (!route.note.isEmpty())
        text += QStringLiteral(" (") + route.note + QLatin1Char(')');
    return text;
}

QString endServerQuestion(qint64 pid, const QString &name, const QString &path)
{
    return trKey("IDS_ADB_END_SERVER_%1_%2_%3")
        .arg(name, QString::number(pid), path.isEmpty() ? trKey("IDS_ADB_PATH_UNKNOWN") : path);
}

} // namespace AdbSetup
