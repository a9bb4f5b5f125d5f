#include "devices/writesnapshot.h"

#include <QFileInfo>
#include <QTextStream>

namespace devices {

WriteSnapshot::WriteSnapshot(SnapshotInfo::Kind kind, const QString &target, const QString &targetName,
                             const QString &operation, const QString &dbPath)
    : m_dbPath(dbPath)
{
    SnapshotStore store;
    m_info = store.take(kind, target, targetName, operation, dbPath);
}

WriteSnapshot WriteSnapshot::ofDb(const QString &dbPath, const QString &operation)
{
    const QString file = QFileInfo(dbPath).fileName();
    QString name = file;
    if (name.endsWith(QLatin1String(".db")))
        name.chop(3);
    return WriteSnapshot(SnapshotInfo::Kind::LocalDb, file, name, operation, dbPath);
}

int WriteSnapshot::finish(int code, const std::function<void(const QString &)> &warn)
{
    if (code != 0)
        return code;
    try {
        SnapshotStore store;
        store.recordAfter(m_info, m_dbPath);
    } catch (const std::exception &e) {
        // The write is done; an undo then takes every difference for the write's.
        const QString text = QStringLiteral("The state after the change could not be kept beside its snapshot: ") +
                             QString::fromUtf8(e.what());
        if (warn)
            warn(text);
        else
            QTextStream(stderr) << text << '\n';
    }
    return code;
}

} // namespace devices
