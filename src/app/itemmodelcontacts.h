#pragma once

#include "contacts/pim.h"

#include <QAbstractItemModel>
#include <QList>
#include <QPixmap>

#include <optional>
#include <vector>

// The contact list of the main window: a flat table, one row per contact, with its name, one phone, one e-mail
// and one address, and the contact's photo as a small picture in the first column.
class ItemModelContacts : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column { ColumnName = 0, ColumnPhone, ColumnEmail, ColumnAddress, ColumnCount };

    explicit ItemModelContacts(QObject *parent = nullptr);
    ~ItemModelContacts() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Orders the rows by a column's text (ignoring case, as people read names); a column below 0 keeps the
    // order the contacts came in. Equal texts keep their order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Rows can be dragged out as a list of contact ids (kMimeType: the ids as text, one per line).
    static constexpr char kMimeType[] = "application/x-tallowbrook-contact-ids";
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    static QList<qint64> contactIds(const QMimeData *data);

    // Replaces the whole list (in the order given) and resets the model.
    void setContacts(const QList<pim::Contact> &contacts);
    // Adds contacts after the last row, for a list that arrives in pieces.
    void appendContacts(const QList<pim::Contact> &contacts);
    void clear();
    const QList<pim::Contact> &contacts() const { return m_contacts; }

    // Column 0 of row n; invalid when n is out of range.
    QModelIndex indexOfRow(int row) const;
    // The contact of an index's row (any column); an empty contact for an invalid index.
    pim::Contact contactAt(const QModelIndex &index) const;

    // The texts of the columns for one contact.
    static QString phoneText(const pim::Contact &contact);
    static QString emailText(const pim::Contact &contact);
    static QString addressText(const pim::Contact &contact);

private:
    QPixmap photoFor(int row) const;

    QList<pim::Contact> m_contacts;
    // Decoded photos by row, filled as rows are shown, so scrolling does not decode them again.
    mutable std::vector<std::optional<QPixmap>> m_photos;
    mutable std::optional<QPixmap> m_emptyPhoto;
};
