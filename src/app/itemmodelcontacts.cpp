#include "app/itemmodelcontacts.h"

#include "contacts/contactname.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QMimeData>

#include <QSize>
#include <QThreadPool>
#include <numeric>

#include <utility>

namespace {
constexpr int kIconWidth = 18;
constexpr int kRowHeight = 25;
// From this many contacts a replaced list is freed on a pool thread: a list of tens of thousands of contacts is
// millions of small blocks, and freeing them here would stall the window when it switches away from a large node.
constexpr qsizetype kFreeElsewhere = 1000;

void release(QList<pim::Contact> &&contacts)
{
    if (contacts.size() < kFreeElsewhere)
        return;
    QThreadPool::globalInstance()->start([doomed = std::move(contacts)]() mutable { doomed = {}; });
}
} // namespace

ItemModelContacts::ItemModelContacts(QObject *parent) : QAbstractItemModel(parent)
{
}

ItemModelContacts::~ItemModelContacts() = default;

QModelIndex ItemModelContacts::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= m_contacts.size() || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

QModelIndex ItemModelContacts::parent(const QModelIndex &) const
{
    return {};
}

int ItemModelContacts::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_contacts.size());
}

int ItemModelContacts::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

QString ItemModelContacts::phoneText(const pim::Contact &contact)
{
    const QList<pim::DataRow> phones = contact.rows(pim::ENTITY_PHONE);
    if (phones.isEmpty())
        return {};
    for (const pim::DataRow &phone : phones) {
        bool ok = false;
        if (phone.value(QStringLiteral("data2")).toInt(&ok) == 2 && ok) // 2 = Mobile
            return phone.text(QStringLiteral("data1"));
    }
    return phones.first().text(QStringLiteral("data1"));
}

QString ItemModelContacts::emailText(const pim::Contact &contact)
{
    return contact.firstRow(pim::ENTITY_EMAIL).text(QStringLiteral("data1"));
}

QString ItemModelContacts::addressText(const pim::Contact &contact)
{
    return contact.firstRow(pim::ENTITY_ADDRESS).text(QStringLiteral("data1"));
}

QPixmap ItemModelContacts::photoFor(int row) const
{
    std::optional<QPixmap> &cached = m_photos[size_t(row)];
    if (cached)
        return *cached;

    const QByteArray bytes =
        m_contacts.at(row).firstRow(pim::ENTITY_PHOTO).value(QStringLiteral("data15")).toByteArray();
    QImage image;
    if (!bytes.isEmpty() && !image.loadFromData(bytes, "JPEG"))
        image.loadFromData(bytes, "PNG");
    if (!image.isNull()) {
        cached = QPixmap::fromImage(image.scaledToWidth(kIconWidth, Qt::SmoothTransformation));
        return *cached;
    }
    // Contacts without a usable photo share one picture.
    if (!m_emptyPhoto)
        m_emptyPhoto =
            QPixmap(QStringLiteral(":res/empty_contact.png")).scaledToWidth(kIconWidth, Qt::SmoothTransformation);
    cached = *m_emptyPhoto;
    return *cached;
}

QVariant ItemModelContacts::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_contacts.size())
        return {};
    const pim::Contact &contact = m_contacts.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case ColumnName:
            // A contact stored without a name (a company read from an older phone cache) by the shared rule.
            return contact.full_name.isEmpty() ? pim::shownName(contact) : contact.full_name;
        case ColumnPhone:
            return phoneText(contact);
        case ColumnEmail:
            return emailText(contact);
        case ColumnAddress:
            return addressText(contact);
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (index.column() == ColumnName)
            return photoFor(index.row());
        return {};
    case Qt::BackgroundRole:
        return QBrush(index.row() % 2 == 0 ? QColor(250, 250, 250) : QColor(255, 255, 255));
    case Qt::SizeHintRole:
        // Only the height is fixed; the window sets the column widths.
        return QSize(0, kRowHeight);
    default:
        return {};
    }
}

QVariant ItemModelContacts::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColumnName:
        return QStringLiteral("Name");
    case ColumnPhone:
        return QStringLiteral("Phone");
    case ColumnEmail:
        return QStringLiteral("E-Mail");
    case ColumnAddress:
        return QStringLiteral("Address");
    default:
        return {};
    }
}

void ItemModelContacts::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount || m_contacts.size() < 2)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> rows(size_t(m_contacts.size()));
    std::iota(rows.begin(), rows.end(), 0);
    std::vector<QString> keys;
    keys.reserve(rows.size());
    for (int row = 0; row < m_contacts.size(); ++row)
        keys.push_back(data(createIndex(row, column), Qt::DisplayRole).toString().toCaseFolded());
    std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
        const int cmp = QString::localeAwareCompare(keys[size_t(a)], keys[size_t(b)]);
        return order == Qt::AscendingOrder ? cmp < 0 : cmp > 0;
    });
    QList<pim::Contact> sorted;
    sorted.reserve(m_contacts.size());
    std::vector<std::optional<QPixmap>> photos(rows.size());
    std::vector<int> newRowOf(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        sorted.append(std::move(m_contacts[rows[i]]));
        photos[i] = std::move(m_photos[size_t(rows[i])]);
        newRowOf[size_t(rows[i])] = int(i);
    }
    m_contacts = std::move(sorted);
    m_photos = std::move(photos);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex &index : before)
        after.append(index.isValid() ? createIndex(newRowOf[size_t(index.row())], index.column()) : QModelIndex());
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

Qt::ItemFlags ItemModelContacts::flags(const QModelIndex &index) const
{
    return index.isValid() ? QAbstractItemModel::flags(index) | Qt::ItemIsDragEnabled : Qt::NoItemFlags;
}

QStringList ItemModelContacts::mimeTypes() const
{
    return {QLatin1String(kMimeType)};
}

QMimeData *ItemModelContacts::mimeData(const QModelIndexList &indexes) const
{
    QList<qint64> ids;
    for (const QModelIndex &index : indexes) {
        const qint64 id = contactAt(index)._id;
        if (id != 0 && !ids.contains(id))
            ids.append(id);
    }
    if (ids.isEmpty())
        return nullptr;
    QByteArray text;
    for (qint64 id : std::as_const(ids))
        text += QByteArray::number(id) + '\n';
    auto *data = new QMimeData;
    data->setData(QLatin1String(kMimeType), text);
    return data;
}

QList<qint64> ItemModelContacts::contactIds(const QMimeData *data)
{
    QList<qint64> ids;
    if (!data)
        return ids;
    for (const QByteArray &line : data->data(QLatin1String(kMimeType)).split('\n')) {
        bool ok = false;
        const qint64 id = line.toLongLong(&ok);
        if (ok && id > 0)
            ids.append(id);
    }
    return ids;
}

void ItemModelContacts::setContacts(const QList<pim::Contact> &contacts)
{
    beginResetModel();
    QList<pim::Contact> old = std::exchange(m_contacts, contacts);
    m_photos.assign(size_t(m_contacts.size()), std::nullopt);
    endResetModel();
    release(std::move(old));
}

void ItemModelContacts::appendContacts(const QList<pim::Contact> &contacts)
{
    if (contacts.isEmpty())
        return;
    const int first = int(m_contacts.size());
    beginInsertRows(QModelIndex(), first, first + int(contacts.size()) - 1);
    m_contacts.append(contacts);
    m_photos.resize(size_t(m_contacts.size()));
    endInsertRows();
}

void ItemModelContacts::clear()
{
    setContacts({});
}

QModelIndex ItemModelContacts::indexOfRow(int row) const
{
    return index(row, ColumnName);
}

pim::Contact ItemModelContacts::contactAt(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_contacts.size())
        return {};
    return m_contacts.at(index.row());
}
