#include "app/itemmodelmaintree.h"

#include "android/androidcontactsdb.h"
#include "contacts/localdb.h"
#include "core/texts.h"

#include <QPixmap>

#include <algorithm>

_ItemNode::~_ItemNode() = default;

int _ItemNode::row() const
{
    if (!m_parent)
        return 0;
    const auto &siblings = m_parent->m_children;
    const auto it = std::find_if(siblings.begin(), siblings.end(), [this](const auto &c) { return c.get() == this; });
    return int(it - siblings.begin());
}

_DBItemNode::_DBItemNode(int nodeKind, const QString &nodeName, const QString &nodeId, int nodePlatform,
                         const PLocalDb &nodeDb, const PAndroidConnector &nodeConnector)
    : _ItemNode(nodeKind, nodeName), id(nodeId), platform(nodePlatform), db(nodeDb), connector(nodeConnector)
{
}

_DBItemNode::~_DBItemNode() = default;

_GroupItemNode::~_GroupItemNode() = default;

ItemModelMainTree::ItemModelMainTree(QObject *parent) : QAbstractItemModel(parent)
{
    auto devices = std::make_unique<_ItemNode>(_ItemNode::KindDevicesRoot, QString());
    auto databases = std::make_unique<_ItemNode>(_ItemNode::KindDatabasesRoot, QString());
    m_devicesRoot = devices.get();
    m_databasesRoot = databases.get();
    devices->m_parent = &m_root;
    databases->m_parent = &m_root;
    m_root.m_children.push_back(std::move(devices));
    m_root.m_children.push_back(std::move(databases));
}

ItemModelMainTree::~ItemModelMainTree() = default;

_ItemNode *ItemModelMainTree::nodeOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<_ItemNode *>(index.internalPointer());
}

int ItemModelMainTree::kindOf(const QModelIndex &index) const
{
    const _ItemNode *node = nodeOf(index);
    return node ? node->kind : 0;
}

QModelIndex ItemModelMainTree::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0))
        return {};
    const _ItemNode *p = parent.isValid() ? nodeOf(parent) : &m_root;
    if (!p || row >= p->childCount())
        return {};
    return createIndex(row, 0, p->child(row));
}

QModelIndex ItemModelMainTree::parent(const QModelIndex &child) const
{
    const _ItemNode *node = nodeOf(child);
    if (!node || !node->m_parent || node->m_parent == &m_root)
        return {};
    return createIndex(node->m_parent->row(), 0, node->m_parent);
}

int ItemModelMainTree::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_root.childCount();
    if (parent.column() != 0)
        return 0;
    const _ItemNode *node = nodeOf(parent);
    return node ? node->childCount() : 0;
}

int ItemModelMainTree::columnCount(const QModelIndex &) const
{
    return 1;
}

QIcon ItemModelMainTree::iconFor(const _ItemNode *node) const
{
    QString path;
    switch (node->kind) {
    case _ItemNode::KindDevicesRoot:
        path = QStringLiteral(":res/icon_devices.png");
        break;
    case _ItemNode::KindDatabasesRoot:
        path = QStringLiteral(":res/icon_databases.png");
        break;
    case _ItemNode::KindDevice:
        path = static_cast<const _DBItemNode *>(node)->platform == PlatformIos
                   ? QStringLiteral(":res/iphone.png")
                   : QStringLiteral(":res/icon_android.png");
        break;
    case _ItemNode::KindDatabase:
        path = QStringLiteral(":res/icon_database.png");
        break;
    case _ItemNode::KindGroup:
        path = QStringLiteral(":res/group.png");
        break;
    default:
        return {};
    }
    // Each picture is loaded and scaled once; a missing picture gives an empty icon.
    auto it = m_icons.find(path);
    if (it == m_icons.end()) {
        const QPixmap pixmap(path);
        it =
            m_icons.insert(path, pixmap.isNull() ? QIcon() : QIcon(pixmap.scaledToWidth(18, Qt::SmoothTransformation)));
    }
    return it.value();
}

QVariant ItemModelMainTree::data(const QModelIndex &index, int role) const
{
    const _ItemNode *node = nodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        // The roots are looked up on each call so that a translation installed later still applies.
        if (node->kind == _ItemNode::KindDevicesRoot)
            return trKey("IDS_ROOT_DEVICE");
        if (node->kind == _ItemNode::KindDatabasesRoot)
            return trKey("IDS_ROOT_LOCALDB");
        return node->name;
    case Qt::DecorationRole:
        return iconFor(node);
    case KindRole:
        return node->kind;
    default:
        return {};
    }
}

void ItemModelMainTree::appendChild(_ItemNode *parent, std::unique_ptr<_ItemNode> child)
{
    const int row = parent->childCount();
    beginInsertRows(indexOfNode(parent), row, row);
    child->m_parent = parent;
    parent->m_children.push_back(std::move(child));
    endInsertRows();
}

_DBItemNode *ItemModelMainTree::addDeviceNode(const PAndroidConnector &connector, const PLocalDb &cache,
                                              const QString &name, const QString &id, int platform)
{
    PAndroidConnector conn = connector;
    if (!conn)
        if (const auto *android = dynamic_cast<const AndroidContactsDb *>(cache.data()))
            conn = android->connector();
    auto node = std::make_unique<_DBItemNode>(_ItemNode::KindDevice, name, id, platform, cache, conn);
    _DBItemNode *result = node.get();
    appendChild(m_devicesRoot, std::move(node));
    return result;
}

_DBItemNode *ItemModelMainTree::addDatabaseNode(const PLocalDb &db, const QString &fileName)
{
    auto node = std::make_unique<_DBItemNode>(_ItemNode::KindDatabase, fileName, QString(), PlatformNone, db,
                                              PAndroidConnector());
    _DBItemNode *result = node.get();
    appendChild(m_databasesRoot, std::move(node));
    return result;
}

void ItemModelMainTree::removeNode(_DBItemNode *node)
{
    _ItemNode *parent = node ? node->m_parent : nullptr;
    if (!parent)
        return;
    const int row = node->row();
    // Keep the database alive until the node is gone, then close its connection: the main window may still
    // hold the same database, and a closed one simply reopens on its next use.
    const PLocalDb db = node->db;
    beginRemoveRows(indexOfNode(parent), row, row);
    parent->m_children.erase(parent->m_children.begin() + row);
    endRemoveRows();
    if (db)
        db->close();
}

bool ItemModelMainTree::removeDeviceNode(const QString &id, int platform)
{
    _DBItemNode *node = findDeviceNode(id, platform);
    if (!node)
        return false;
    removeNode(node);
    return true;
}

void ItemModelMainTree::removeDatabaseNode(_DBItemNode *node)
{
    if (node && node->kind == _ItemNode::KindDatabase)
        removeNode(node);
}

QList<_DBItemNode *> ItemModelMainTree::deviceNodes(int platform) const
{
    QList<_DBItemNode *> nodes;
    for (const auto &child : m_devicesRoot->m_children) {
        auto *node = static_cast<_DBItemNode *>(child.get());
        if (platform == PlatformNone || node->platform == platform)
            nodes.append(node);
    }
    return nodes;
}

int ItemModelMainTree::deviceCount(int platform) const
{
    return int(deviceNodes(platform).size());
}

QList<_DBItemNode *> ItemModelMainTree::databaseNodes() const
{
    QList<_DBItemNode *> nodes;
    for (const auto &child : m_databasesRoot->m_children)
        nodes.append(static_cast<_DBItemNode *>(child.get()));
    return nodes;
}

_DBItemNode *ItemModelMainTree::findDeviceNode(const QString &id, int platform) const
{
    for (_DBItemNode *node : deviceNodes(platform))
        if (node->id == id)
            return node;
    return nullptr;
}

_DBItemNode *ItemModelMainTree::findDatabaseNode(const QString &fileName) const
{
    for (_DBItemNode *node : databaseNodes())
        if (node->name == fileName)
            return node;
    return nullptr;
}

void ItemModelMainTree::reloadGroups(_DBItemNode *node)
{
    if (!node || !node->db)
        return;
    // Read first, so a storage error leaves the tree untouched.
    const QList<QPair<qint64, QString>> groups = node->db->listGroups();
    const QModelIndex parent = indexOfNode(node);

    // The old group nodes go away as removed rows (not only as a layout change), so views and persistent
    // indexes never point at a deleted node.
    if (node->childCount() > 0) {
        beginRemoveRows(parent, 0, node->childCount() - 1);
        node->m_children.clear();
        endRemoveRows();
    }
    if (!groups.isEmpty()) {
        beginInsertRows(parent, 0, int(groups.size()) - 1);
        for (const auto &[groupId, name] : groups) {
            auto group = std::make_unique<_GroupItemNode>(groupId, name);
            group->m_parent = node;
            node->m_children.push_back(std::move(group));
        }
        endInsertRows();
    }
    node->groupsLoaded = true;
}

QModelIndex ItemModelMainTree::indexOfNode(const _ItemNode *node) const
{
    if (!node || node == &m_root || !node->m_parent)
        return {};
    return createIndex(node->row(), 0, const_cast<_ItemNode *>(node));
}

_DBItemNode *ItemModelMainTree::dbNodeOf(const QModelIndex &index) const
{
    _ItemNode *node = nodeOf(index);
    if (node && node->kind == _ItemNode::KindGroup)
        node = node->parent();
    if (node && (node->kind == _ItemNode::KindDevice || node->kind == _ItemNode::KindDatabase))
        return static_cast<_DBItemNode *>(node);
    return nullptr;
}

_GroupItemNode *ItemModelMainTree::groupNodeOf(const QModelIndex &index) const
{
    _ItemNode *node = nodeOf(index);
    return node && node->kind == _ItemNode::KindGroup ? static_cast<_GroupItemNode *>(node) : nullptr;
}
