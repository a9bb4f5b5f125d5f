#include "simandroidphone.h"

#include "adb/adb.h"
#include "android/adbconnector.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The row type the program gives a contact's name.
constexpr int kNameRow = 1;

} // namespace

SimAndroidPhone::SimAndroidPhone(const QString &name, const QString &serial, App app, SimCompanionConfig config,
                                 SimAdbdConfig adbConfig)
    : phone(name, serial), companion(&phone, config), adbd(&phone, adbConfig)
{
    QString error;
    adbd.listen(0, &error);
    if (app == App::Installed)
        phone.setPackages({QStringLiteral("com.tallowbrook.contactssync")});
}

SimAndroidPhone::SimAndroidPhone(const QString &name, SimCompanionConfig config, SimAdbdConfig adbConfig)
    : SimAndroidPhone(name, QString(name).toUpper().remove(u' '), App::Installed, config, adbConfig)
{
}

QString SimAndroidPhone::endpoint() const
{
    return QStringLiteral("127.0.0.1:%1").arg(adbd.port());
}

int SimAndroidPhone::installs() const
{
    return int(phone.shellHistory().filter(QStringLiteral("pm install")).size());
}

QStringList SimAndroidPhone::names() const
{
    QStringList out;
    const SimContactStore store = companion.store();
    for (const SimContact &c : store.contacts())
        out << c.name;
    out.sort();
    return out;
}

QMap<QString, QStringList> SimAndroidPhone::contents() const
{
    return simStoreContents(companion.store());
}

QStringList SimAndroidPhone::fields() const
{
    QStringList out;
    for (const QJsonValue &c : companion.store().toJson()) {
        QJsonObject contact = c.toObject();
        contact.remove(QStringLiteral("id"));
        contact.remove(QStringLiteral("raw"));
        QStringList rows;
        for (const QJsonValue &r : contact.take(QStringLiteral("rows")).toArray()) {
            QJsonObject row = r.toObject();
            row.remove(QStringLiteral("id"));
            rows << QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact));
        }
        rows.sort();
        out << QString::fromUtf8(QJsonDocument(contact).toJson(QJsonDocument::Compact)) + rows.join(u' ');
    }
    out.sort();
    return out;
}

PAndroidConnector SimAndroidPhone::connector() const
{
    return adbConnectorTo(adbd.port());
}

WatchedPhones::WatchedPhones(const QStringList &endpoints)
    : ScopedEnv("CONTACT_MOVER_ADB_TCP", endpoints.join(u',').toLatin1())
{
}

QMap<QString, QStringList> simStoreContents(const SimContactStore &store)
{
    QMap<QString, QStringList> out;
    for (const SimContact &c : store.contacts()) {
        QStringList rows;
        for (const SimRow &r : c.rows)
            if (r.type != kNameRow)
                rows << QStringLiteral("%1:%2").arg(r.type).arg(r.fields.join(u'|'));
        rows.sort();
        out.insert(c.name, rows);
    }
    return out;
}

PAndroidConnector adbConnectorTo(quint16 port)
{
    QString error;
    const PAdbUSBHandle handle = AdbUSBHandle::connectTcp(QStringLiteral("127.0.0.1"), port, QString(), 3000, &error);
    if (handle)
        handle->waitForHandshake(3000);
    return PAndroidConnector(new AdbConnector(handle));
}
