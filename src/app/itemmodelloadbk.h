#pragma once

#include "app/abstreeitemmodel.h"
#include "itunes/backupmanifest.h"

#include <QPixmap>

// The list of iTunes backups in the backup dialog: one top-level row per backup, with its display name, its
// date and its folder; rows alternate between light grey and white.
class ItemModelLoadBk : public AbsTreeItemModel
{
    Q_OBJECT
public:
    // A row of the list: one backup.
    class _BKItemNode : public _ItemNode
    {
    public:
        explicit _BKItemNode(const PBackupManifest &backup) : manifest(backup) {}
        ~_BKItemNode() override;

        const PBackupManifest manifest;
    };

    explicit ItemModelLoadBk(QObject *parent = nullptr);
    ~ItemModelLoadBk() override;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Appends a backup at the end of the list.
    _BKItemNode *addBackup(const PBackupManifest &manifest);
    // The backup of an index; null for an invalid index.
    PBackupManifest manifestAt(const QModelIndex &index) const;
    // The listed backup with this identity (BackupManifest::identity()); null when none.
    PBackupManifest findByIdentity(const QString &identity) const;

private:
    QPixmap m_icon; // ":res/iphone.png", 18 px wide
};
