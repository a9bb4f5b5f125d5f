// Snapshots before the window writes to a phone or a local database, and "Undo last change on this phone".

#include "app/undocontroller.h"

#include "android/androidcontactsdb.h"

#include "android/adbconnector.h"
#include "app/contactlistcontroller.h"
#include "app/devicewrites.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "snapshots/snapshotstore.h"
#include "snapshots/undorunner.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace {

// Where a node's snapshots are filed; nothing for a virtual device (a file standing for a phone, with no phone
// to undo on) or a node that is neither a device nor a database.
std::optional<std::pair<SnapshotInfo::Kind, QString>> snapshotTarget(const _DBItemNode *node)
{
    if (!node || !node->db)
        return std::nullopt;
    if (node->kind == _ItemNode::KindDatabase)
        return std::pair{SnapshotInfo::Kind::LocalDb, QFileInfo(node->db->path()).fileName()};
    if (node->kind != _ItemNode::KindDevice)
        return std::nullopt;
    if (node->platform == ItemModelMainTree::PlatformIos) {
        if (QFileInfo(node->db->path()).absolutePath() != QDir(DataFolder::iosCacheDir()).absolutePath())
            return std::nullopt;
        return std::pair{SnapshotInfo::Kind::Ios, node->id};
    }
    if (node->platform == ItemModelMainTree::PlatformAndroid) {
        const auto *adb = dynamic_cast<const AdbConnector *>(node->connector.data());
        if (!node->connector || (adb && !adb->handle()))
            return std::nullopt;
        return std::pair{SnapshotInfo::Kind::Android, node->id};
    }
    return std::nullopt;
}

} // namespace

UndoController::UndoController(QWidget *window, ContactListController *list, DeviceWrites *devices)
    : QObject(window), m_window(window), m_list(list), m_devices(devices)
{
}

bool UndoController::keepSnapshot(_DBItemNode *node, const QString &operation)
{
    const auto target = snapshotTarget(node);
    if (!target)
        return true;
    try {
        SnapshotStore store;
        const SnapshotInfo info = store.take(target->first, target->second, node->name, operation, node->db->path());
        m_pendingSnapshots.insert(node->db->path(), info.id);
        return true;
    } catch (const std::exception &e) {
        MessageBox::error(m_window, MessageBox::escaped(QString::fromUtf8(e.what())));
        return false;
    }
}

void UndoController::keepStateAfterWrite(_DBItemNode *node)
{
    if (!node || !node->db)
        return;
    const QString id = m_pendingSnapshots.take(node->db->path());
    if (id.isEmpty())
        return;
    try {
        SnapshotStore store;
        if (std::optional<SnapshotInfo> info = store.find(id))
            store.recordAfter(*info, node->db->path());
    } catch (const std::exception &) {
        // Without it an undo takes every difference for the write's; the write itself is done.
    }
}

void UndoController::informWithUndo(_DBItemNode *node, const QString &text)
{
    keepStateAfterWrite(node);
    if (!snapshotTarget(node)) {
        MessageBox::information(m_window, text);
        return;
    }
    if (MessageBox::show(m_window, MessageBox::Icon::Information, text, MessageBox::Ok | MessageBox::Undo) ==
        MessageBox::Undo)
        undoLastChange(node);
}

void UndoController::undoLastChange(_DBItemNode *node)
{
    const auto target = snapshotTarget(node);
    if (!target) {
        MessageBox::information(
            m_window, trKey("Changes to %1 cannot be undone.").arg(MessageBox::escaped(node ? node->name : QString())));
        return;
    }
    SnapshotStore store;
    const QList<SnapshotInfo> snapshots = store.list(target->first, target->second);
    if (snapshots.isEmpty()) {
        MessageBox::information(m_window,
                                trKey("There is no change to undo on %1.").arg(MessageBox::escaped(node->name)));
        return;
    }
    const SnapshotInfo &last = snapshots.first();
    undo::Plan plan;
    try {
        plan = undo::planFor(store, last, *node->db, true);
    } catch (const std::exception &e) {
        MessageBox::error(m_window, MessageBox::escaped(QString::fromUtf8(e.what())));
        return;
    }
    if (plan.isEmpty()) {
        MessageBox::information(
            m_window, trKey("%1 already is as it was before that change.").arg(MessageBox::escaped(node->name)) +
                          QStringLiteral("<br/>") + MessageBox::escaped(plan.summary()));
        return;
    }
    const QString question =
        trKey("Undo \"%1\" of %2 on %3?")
            .arg(MessageBox::escaped(last.operation), QLocale().toString(last.time.toLocalTime(), QLocale::ShortFormat),
                 MessageBox::escaped(node->name));
    if (!MessageBox::question(m_window, question + QStringLiteral("<br/><br/>") + MessageBox::escaped(plan.summary())))
        return;
    if (!keepSnapshot(node, QStringLiteral("undo")))
        return;

    const undo::RunWorker run = [this](const undo::WorkerFactory &make) {
        ProgressForm form(QString(), m_window);
        const std::unique_ptr<QThread> worker = make(&form);
        return form.runWorker(worker.get());
    };
    bool ok = true;
    try {
        switch (target->first) {
        case SnapshotInfo::Kind::LocalDb:
            undo::applyToLocalDb(plan, *node->db);
            break;
        case SnapshotInfo::Kind::Android:
            if (auto *cache = dynamic_cast<AndroidContactsDb *>(node->db.data()))
                ok = undo::applyToAndroid(plan, *cache, run);
            break;
        case SnapshotInfo::Kind::Ios:
            ok = undo::applyToIos(plan, node->id, *node->db, run);
            break;
        }
    } catch (const std::exception &e) {
        MessageBox::error(m_window, MessageBox::escaped(QString::fromUtf8(e.what())));
        ok = false;
    }
    if (!ok) {
        m_pendingSnapshots.remove(node->db->path());
        // What the phone holds now, part of the undo included; the state before it stays in its snapshot.
        if (target->first == SnapshotInfo::Kind::Android)
            m_devices->reloadAndroidDevice(node);
        else if (target->first == SnapshotInfo::Kind::Ios)
            m_devices->reloadIosDevice(node);
        else
            m_list->refreshNode(node);
        return;
    }
    keepStateAfterWrite(node);
    m_list->refreshNode(node);
    MessageBox::information(m_window,
                            MessageBox::escaped(plan.summary()).replace(QLatin1Char('\n'), QStringLiteral("<br/>")));
}
