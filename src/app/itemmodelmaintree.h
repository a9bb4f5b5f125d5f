#pragma once

// The tree on the left of the main window: a "Devices" root with one node per connected device and a "Local
// Databases" root with one node per local database, each with its groups below it. Every device and database
// node holds its database by shared pointer; the model only shows them, the main window decides what they are.

#include "android/iandroidconnector.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QSharedPointer>
#include <QString>

#include <memory>
#include <vector>

class LocalDb;
using PLocalDb = QSharedPointer<LocalDb>;

// One node of the tree. The node's own values are plain data; its place in the tree (parent, children) is
// changed only by the model, so that every change reaches the views.
class _ItemNode
{
public:
    // Node kinds; the numbers are the ones the main window tests.
    enum Kind {
        KindInvisibleRoot = 0,
        KindDevicesRoot = 1,
        KindDatabasesRoot = 2,
        KindDevice = 3,
        KindDatabase = 5,
        KindGroup = 6
    };

    _ItemNode(int nodeKind, const QString &nodeName) : kind(nodeKind), name(nodeName) {}
    virtual ~_ItemNode();
    _ItemNode(const _ItemNode &) = delete;
    _ItemNode &operator=(const _ItemNode &) = delete;

    const int kind;
    QString name; // shown text: device name, database file name or group name; empty for the two roots

    _ItemNode *parent() const { return m_parent; }
    int childCount() const { return int(m_children.size()); }
    _ItemNode *child(int row) const { return m_children.at(size_t(row)).get(); }
    // Position among the parent's children; 0 for the invisible root.
    int row() const;

private:
    friend class ItemModelMainTree;
    _ItemNode *m_parent = nullptr;
    std::vector<std::unique_ptr<_ItemNode>> m_children;
};

// A device (kind 3) or a local database (kind 5) with its shared database; its children are its groups.
class _DBItemNode : public _ItemNode
{
public:
    _DBItemNode(int kind, const QString &name, const QString &id, int platform, const PLocalDb &db,
                const PAndroidConnector &connector);
    ~_DBItemNode() override;

    QString id;                  // device id (UDID, adb serial or Wi-Fi device name); empty for a database
    int platform;                // ItemModelMainTree::Platform; PlatformNone for a database
    PLocalDb db;                 // the cache of a device, or the local database (file: name in "data")
    PAndroidConnector connector; // an Android device's connection; null otherwise or when known only from a file
    bool groupsLoaded = false;   // set by the first group reload
};

// One group of the database of its parent node.
class _GroupItemNode : public _ItemNode
{
public:
    _GroupItemNode(qint64 id, const QString &groupName) : _ItemNode(KindGroup, groupName), groupId(id) {}
    ~_GroupItemNode() override;

    const qint64 groupId;
};

class ItemModelMainTree : public QAbstractItemModel
{
    Q_OBJECT
public:
    // Device platforms; database nodes have none.
    enum Platform { PlatformNone = 0, PlatformIos = 1, PlatformAndroid = 2 };
    // data() gives a node's kind under this role.
    static constexpr int KindRole = Qt::UserRole + 1;

    explicit ItemModelMainTree(QObject *parent = nullptr);
    ~ItemModelMainTree() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    _ItemNode *devicesRoot() const { return m_devicesRoot; }
    _ItemNode *databasesRoot() const { return m_databasesRoot; }

    // Appends a device node under "Devices". An Android cache database carries its connector; when none is
    // given, the node takes the cache's own. Groups are not loaded yet.
    _DBItemNode *addDeviceNode(const PAndroidConnector &connector, const PLocalDb &cache, const QString &name,
                               const QString &id, int platform);
    // Appends a database node under "Local Databases", named by the file name.
    _DBItemNode *addDatabaseNode(const PLocalDb &db, const QString &fileName);

    // Removes the first device node with this id among the nodes of the platform (PlatformNone: any) and closes
    // its cache database. False when there is none.
    bool removeDeviceNode(const QString &id, int platform = PlatformNone);
    // Removes a database node and closes its connection; the file stays where it is.
    void removeDatabaseNode(_DBItemNode *node);

    int deviceCount(int platform) const;
    // Device nodes of a platform (PlatformNone: all), in tree order.
    QList<_DBItemNode *> deviceNodes(int platform = PlatformNone) const;
    QList<_DBItemNode *> databaseNodes() const;
    _DBItemNode *findDeviceNode(const QString &id, int platform = PlatformNone) const;
    _DBItemNode *findDatabaseNode(const QString &fileName) const;

    // Replaces the node's group children by the groups its database lists now (sorted by name). Storage errors
    // propagate (std::runtime_error) and leave the children as they were.
    void reloadGroups(_DBItemNode *node);

    QModelIndex indexOfNode(const _ItemNode *node) const;
    // The node of an index; null for an invalid index.
    _ItemNode *nodeOf(const QModelIndex &index) const;
    // The kind of an index's node; 0 for an invalid index.
    int kindOf(const QModelIndex &index) const;
    // The device or database node of an index: the node itself, or the parent of a group; null for the roots.
    _DBItemNode *dbNodeOf(const QModelIndex &index) const;
    // The group node of an index; null unless the index is a group.
    _GroupItemNode *groupNodeOf(const QModelIndex &index) const;

private:
    void appendChild(_ItemNode *parent, std::unique_ptr<_ItemNode> child);
    void removeNode(_DBItemNode *node);
    QIcon iconFor(const _ItemNode *node) const;

    _ItemNode m_root{_ItemNode::KindInvisibleRoot, QString()};
    _ItemNode *m_devicesRoot;
    _ItemNode *m_databasesRoot;
    mutable QHash<QString, QIcon> m_icons; // resource path → icon scaled to 18 px wide
};
