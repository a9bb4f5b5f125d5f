#include "simiphones.h"

#include "testfiles.h"

SimIphones::SimIphones() : sim(dir.filePath(QStringLiteral("mux.sock")))
{
}

SimIphones::~SimIphones()
{
    sim.stop();
    m_muxd.reset();
}

QString SimIphones::put(const QString &fileName, const QByteArray &bytes)
{
    const QString path = dir.filePath(fileName);
    if (writeFile(path, bytes))
        return path;
    error = QStringLiteral("could not write %1").arg(path);
    return QString();
}

bool SimIphones::start(const QList<SimDeviceConfig> &devices)
{
    for (const SimDeviceConfig &config : devices)
        if (!sim.addDevice(config, &error))
            return false;
    started = sim.start(&error);
    if (started)
        m_muxd =
            std::make_unique<ScopedEnv>("USBMUXD_SOCKET_ADDRESS", sim.environment().section(u'=', 1).toLocal8Bit());
    return started;
}
