#include "app/itemmodelloadbk.h"

#include <QColor>
#include <QLocale>
#include <QSize>

ItemModelLoadBk::_BKItemNode::~_BKItemNode() = default;

ItemModelLoadBk::ItemModelLoadBk(QObject *parent) : AbsTreeItemModel(parent)
{
    const QPixmap icon(QStringLiteral(":/res/iphone.png"));
    if (!icon.isNull())
        m_icon = icon.scaledToWidth(18, Qt::SmoothTransformation);
}

ItemModelLoadBk::~ItemModelLoadBk() = default;

int ItemModelLoadBk::columnCount(const QModelIndex &) const
{
    return 3;
}

QVariant ItemModelLoadBk::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return QStringLiteral("Name");
    case 1:
        return QStringLiteral("Backup Date");
    case 2:
        return QStringLiteral("Path");
    default:
        return QVariant();
    }
}

QVariant ItemModelLoadBk::data(const QModelIndex &index, int role) const
{
    const PBackupManifest manifest = manifestAt(index);
    if (!manifest)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case 0:
            return manifest->displayName();
        case 1:
            return QLocale::system().toString(manifest->backupDate().toLocalTime(), QLocale::ShortFormat);
        case 2:
            return manifest->folder().absolutePath();
        default:
            return QVariant();
        }
    case Qt::DecorationRole:
        return index.column() == 0 && !m_icon.isNull() ? QVariant(m_icon) : QVariant();
    case Qt::BackgroundRole:
        return index.row() % 2 == 0 ? QColor(250, 250, 250) : QColor(Qt::white);
    case Qt::SizeHintRole:
        return QSize(-1, 25);
    default:
        return QVariant();
    }
}

ItemModelLoadBk::_BKItemNode *ItemModelLoadBk::addBackup(const PBackupManifest &manifest)
{
    return static_cast<_BKItemNode *>(appendNode(std::make_unique<_BKItemNode>(manifest)));
}

PBackupManifest ItemModelLoadBk::manifestAt(const QModelIndex &index) const
{
    const auto *node = dynamic_cast<const _BKItemNode *>(nodeOf(index));
    return node ? node->manifest : PBackupManifest();
}

PBackupManifest ItemModelLoadBk::findByIdentity(const QString &identity) const
{
    for (int row = 0; row < topLevelCount(); ++row) {
        const auto *node = static_cast<const _BKItemNode *>(topLevelNode(row));
        if (node->manifest->identity() == identity)
            return node->manifest;
    }
    return PBackupManifest();
}
