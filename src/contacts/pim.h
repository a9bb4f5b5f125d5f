#pragma once

// The contact model shared by every part of the program: a contact is a display name plus typed data rows
// whose columns "data1" … "data15" mean what the row's entity type says. Devices, backups, files and the
// local databases all translate to and from this layout.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

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

// One entity of one contact. The entity type is not part of the row: rows are held under their type.
struct DataRow
{
    QMap<QString, QVariant> columns;
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
