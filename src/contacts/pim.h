#pragma once

// The contact model shared by every part of the program: a contact is a display name plus typed data rows
// whose columns "data1" … "data15" mean what the row's entity type says. Devices, backups, files and the
// local databases all translate to and from this layout.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <initializer_list>
#include <iterator>
#include <optional>
#include <utility>

class QDataStream;
class QDebug;

namespace pim {

// Entity types; the numbers are stored in the "type" column of a data row.
enum EntityType {
    ENTITY_NAME = 1,
    ENTITY_PHOTO,
    ENTITY_PHONE,
    ENTITY_EMAIL,
    ENTITY_NICKNAME,
    ENTITY_EVENT,
    ENTITY_GROUP,
    ENTITY_IM,
    ENTITY_NOTE,
    ENTITY_ORGANIZATION,
    ENTITY_RELATION,
    ENTITY_ADDRESS,
    ENTITY_WEBSITE = 13
};

// What a change record does to its row.
enum Action { ACTION_ADDED = 1, ACTION_UPDATED = 2, ACTION_DELETED = 3 };

inline bool isEntityType(int type)
{
    return type >= ENTITY_NAME && type <= ENTITY_WEBSITE;
}

// The columns of one data row: values by column name, in the order of their names as QStrings compare
// ("data1", "data10", …, "data15", "data2", …), with the interface of the QMap<QString, QVariant> it replaces.
// All values of a row sit in one block, shared between copies until one of them changes (a map allocated a node
// per column). The names "data0" … "data15" are numbers inside; any other name is registered once and works
// the same way. A column may hold an invalid variant: it is present (counted, listed) but has() says no.
class RowColumns
{
    struct Data;

public:
    class const_iterator
    {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using difference_type = qptrdiff;
        using value_type = QVariant;
        using pointer = const QVariant *;
        using reference = const QVariant &;

        const_iterator() = default;
        const QString &key() const;
        const QVariant &value() const;
        const QVariant &operator*() const { return value(); }
        const QVariant *operator->() const { return &value(); }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_index;
            return old;
        }
        const_iterator &operator--()
        {
            --m_index;
            return *this;
        }
        const_iterator operator--(int)
        {
            const_iterator old = *this;
            --m_index;
            return old;
        }
        friend bool operator==(const const_iterator &a, const const_iterator &b)
        {
            return a.m_data == b.m_data && a.m_index == b.m_index;
        }
        friend bool operator!=(const const_iterator &a, const const_iterator &b) { return !(a == b); }

    private:
        friend class RowColumns;
        const_iterator(const Data *data, qsizetype index) : m_data(data), m_index(index) {}
        const Data *m_data = nullptr;
        qsizetype m_index = 0;
    };

    class iterator
    {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using difference_type = qptrdiff;
        using value_type = QVariant;
        using pointer = QVariant *;
        using reference = QVariant &;

        iterator() = default;
        const QString &key() const;
        QVariant &value() const;
        QVariant &operator*() const { return value(); }
        QVariant *operator->() const { return &value(); }
        iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        iterator operator++(int)
        {
            iterator old = *this;
            ++m_index;
            return old;
        }
        iterator &operator--()
        {
            --m_index;
            return *this;
        }
        iterator operator--(int)
        {
            iterator old = *this;
            --m_index;
            return old;
        }
        operator const_iterator() const { return const_iterator(m_data, m_index); }
        friend bool operator==(const iterator &a, const iterator &b)
        {
            return a.m_data == b.m_data && a.m_index == b.m_index;
        }
        friend bool operator!=(const iterator &a, const iterator &b) { return !(a == b); }

    private:
        friend class RowColumns;
        iterator(Data *data, qsizetype index) : m_data(data), m_index(index) {}
        Data *m_data = nullptr;
        qsizetype m_index = 0;
    };

    // The names, as QMap::keyBegin() gives them.
    class key_iterator
    {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using difference_type = qptrdiff;
        using value_type = QString;
        using pointer = const QString *;
        using reference = const QString &;

        key_iterator() = default;
        explicit key_iterator(const_iterator it) : m_it(it) {}
        const QString &operator*() const { return m_it.key(); }
        const QString *operator->() const { return &m_it.key(); }
        key_iterator &operator++()
        {
            ++m_it;
            return *this;
        }
        key_iterator operator++(int)
        {
            key_iterator old = *this;
            ++m_it;
            return old;
        }
        key_iterator &operator--()
        {
            --m_it;
            return *this;
        }
        key_iterator operator--(int)
        {
            key_iterator old = *this;
            --m_it;
            return old;
        }
        friend bool operator==(const key_iterator &a, const key_iterator &b) { return a.m_it == b.m_it; }
        friend bool operator!=(const key_iterator &a, const key_iterator &b) { return !(a == b); }

    private:
        const_iterator m_it;
    };

    using key_type = QString;
    using mapped_type = QVariant;
    using size_type = qsizetype;
    using ConstIterator = const_iterator;
    using Iterator = iterator;

    RowColumns() noexcept = default;
    RowColumns(std::initializer_list<std::pair<QString, QVariant>> list);
    RowColumns(const QMap<QString, QVariant> &map);
    RowColumns(const RowColumns &other) noexcept;
    RowColumns(RowColumns &&other) noexcept : d(std::exchange(other.d, nullptr)) {}
    RowColumns &operator=(const RowColumns &other) noexcept;
    RowColumns &operator=(RowColumns &&other) noexcept
    {
        std::swap(d, other.d);
        return *this;
    }
    ~RowColumns();

    qsizetype size() const noexcept;
    qsizetype count() const noexcept { return size(); }
    bool isEmpty() const noexcept { return size() == 0; }
    bool empty() const noexcept { return isEmpty(); }
    void clear();

    bool contains(const QString &name) const;
    // The value of a column; defaultValue (an invalid variant) when the row lacks it.
    QVariant value(const QString &name, const QVariant &defaultValue = QVariant()) const;
    QVariant operator[](const QString &name) const { return value(name); }
    // The column's value, added as an invalid variant when missing.
    QVariant &operator[](const QString &name);
    iterator insert(const QString &name, const QVariant &value);
    qsizetype remove(const QString &name);
    QVariant take(const QString &name);
    // Removes the columns for which pred(iterator) is true; returns how many.
    template <typename Predicate> qsizetype removeIf(Predicate pred)
    {
        qsizetype removed = 0;
        for (auto it = begin(); it != end();) {
            if (pred(it)) {
                const QString name = it.key();
                const qsizetype at = it.m_index;
                remove(name);
                it = iterator(d, at);
                ++removed;
            } else {
                ++it;
            }
        }
        return removed;
    }
    QStringList keys() const;
    QList<QVariant> values() const;
    QMap<QString, QVariant> toMap() const;
    operator QMap<QString, QVariant>() const { return toMap(); }

    const_iterator constFind(const QString &name) const;
    const_iterator find(const QString &name) const { return constFind(name); }
    iterator find(const QString &name);
    const_iterator begin() const noexcept { return const_iterator(d, 0); }
    const_iterator end() const noexcept { return const_iterator(d, size()); }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }
    const_iterator constBegin() const noexcept { return begin(); }
    const_iterator constEnd() const noexcept { return end(); }
    iterator begin();
    iterator end();
    key_iterator keyBegin() const noexcept { return key_iterator(begin()); }
    key_iterator keyEnd() const noexcept { return key_iterator(end()); }

    // The same columns with equal values (as QMap compares them).
    friend bool operator==(const RowColumns &a, const RowColumns &b);
    friend bool operator!=(const RowColumns &a, const RowColumns &b) { return !(a == b); }

    // The internal number of a column name: N for "dataN" (0 … 15), higher numbers for names registered on
    // first use.
    static int code(const QString &name);

private:
    // Where the column is in the block, or -1.
    qsizetype indexOf(int code) const;
    // Makes the block this row's own with room for one more column; returns it.
    Data *detach(qsizetype extra);

    Data *d = nullptr;
};

// The byte layout of QMap<QString, QVariant>: the count, then name and value of each column in name order.
QDataStream &operator<<(QDataStream &out, const RowColumns &columns);
QDataStream &operator>>(QDataStream &in, RowColumns &columns);
QDebug operator<<(QDebug debug, const RowColumns &columns);

// One entity of one contact. The entity type is not part of the row: rows are held under their type.
struct DataRow
{
    RowColumns columns;
    qint64 _id = 0; // key in the local database the row came from or went to; 0 while not stored
    QString src_id; // id of the row's record on its device or backup; empty when none

    // An absent column reads as an invalid variant, whose text is empty.
    QVariant value(const QString &name) const { return columns.value(name); }
    QString text(const QString &name) const { return columns.value(name).toString(); }
    void setValue(const QString &name, const QVariant &value) { columns.insert(name, value); }
    bool has(const QString &name) const { return columns.value(name).isValid(); }
};

struct Contact
{
    qint64 _id = 0;                     // key in the local database; 0 while not stored
    QString src_id;                     // id of the contact's record on its source device; empty when none
    QString full_name;                  // display name
    QMap<int, QList<DataRow>> entities; // entity type → that type's rows, in the order read or added

    QList<DataRow> rows(int type) const { return entities.value(type); }
    bool hasRows(int type) const { return !entities.value(type).isEmpty(); }
    // The first row of a type is the one used where one row is wanted (name, photo, group); empty when none.
    DataRow firstRow(int type) const;
    void addRow(int type, const DataRow &row) { entities[type].append(row); }
    int rowCount() const;
};

// One edit to apply to a stored contact. For an update the row carries the new values with the stored row's
// _id and src_id; for a delete it is the stored row.
struct ChangeRecord
{
    int type = 0;
    int action = 0;
    DataRow row;
};

// Type-code tables: code → English display string. Built once on first use and shared.
enum class LabelFamily { Phone, Email, Event, ImType, ImProtocol, Organization, Relation, Address, Website };
const QMap<int, QString> &labelTable(LabelFamily family);
// The family of the table that a row of this type names its kind in ("data2", for an IM the kind of account, not
// the protocol); none for types whose rows carry no coded label.
std::optional<LabelFamily> labelFamilyOf(int type);

// The label shown for a row: its custom label "data3" when not empty, else the table entry for the integer
// value of "data2"; empty text for a code the table lacks. For ImProtocol the custom protocol "data6" and the
// code in "data5" take those places.
QString label(LabelFamily family, const DataRow &row);

// The columns a type stores, in insert/update/read order; empty for a number outside 1..13.
const QStringList &storedColumns(int type);

// True when every listed column's value is equal in both rows: the value of b is converted to the type of the
// value of a (so the number 3 equals the text "3"); two absent values are equal, absent never equals present.
bool rowsEqual(const DataRow &a, const DataRow &b, const QStringList &columns);
// True when every listed column's value converts to empty text.
bool rowEmpty(const DataRow &row, const QStringList &columns);
// True when the value is absent or converts to empty text (bytes: no bytes).
bool valueEmpty(const QVariant &value);

// Rows by type, as a save reports the rows it wrote.
using RowsByType = QMap<int, QList<DataRow>>;
// Adds rows written later to those recorded before: a row with an _id already recorded for its type replaces
// that earlier state, any other is appended.
void addRowsById(RowsByType &into, const RowsByType &more);

// Prefix, given, middle, family and suffix name joined by single spaces, skipping empty parts.
QString displayName(const DataRow &nameRow);
// Street; city, region and postcode; country — on up to three lines separated by "\n".
QString addressText(const DataRow &addressRow);
// Base64 of the MD5 digest of the photo bytes in "data15" (24 characters).
QString photoDigest(const DataRow &photoRow);
// One line describing a row for list and detail views; the address line is HTML. Empty for types without one
// (name, photo, nickname, group).
QString summaryLine(int type, const DataRow &row);
// The same line with every value taken from the row HTML-escaped, for HTML documents and rich-text labels.
QString summaryLineHtml(int type, const DataRow &row);
// Order key of a phone row, lowest first: Mobile, Main, Home, Work, then every other type.
int phonePriority(const DataRow &phoneRow);

} // namespace pim
