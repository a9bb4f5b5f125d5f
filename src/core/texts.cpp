#include "core/texts.h"

#include <QCoreApplication>
#include <QTranslator>

namespace {
constexpr char kContext[] = "Tallowbrook";
}

QString trKey(const char *key)
{
    return QCoreApplication::translate(kContext, key);
}

QString trKey(const QString &key)
{
    return trKey(key.toUtf8().constData());
}

bool installEnglishTranslation(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/en.qm"))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

namespace Product {

QString title()
{
    return trKey("Tallowbrook Contact Mover");
}

QString titleWithVersion()
{
    return title() + trKey(" v%1").arg(QLatin1String(kVersion));
}

} // namespace Product
