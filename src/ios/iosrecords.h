#pragma once

// The contact records of the "com.apple.Contacts" data class and their translation to and from data rows. A
// Contact record carries the name, organization, nickname, birthday, photo and note of a contact; phones,
// e-mails, addresses, URLs, IM accounts, other dates and related names are records of their own that name their
// Contact records in "contact". Records the device does not know yet are sent under temporary identifiers, which
// the device answers with its own in the remapping.

#include "contacts/pim.h"
#include "ios/plistcftype.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace iosrecords {

inline constexpr char kRecordEntityName[] = "com.apple.syncservices.RecordEntityName";
inline constexpr char kContactKind[] = "com.apple.contacts.Contact";
inline constexpr char kPhoneKind[] = "com.apple.contacts.Phone Number";
inline constexpr char kEmailKind[] = "com.apple.contacts.Email Address";
inline constexpr char kAddressKind[] = "com.apple.contacts.Street Address";
inline constexpr char kUrlKind[] = "com.apple.contacts.URL";
inline constexpr char kImKind[] = "com.apple.contacts.IM";
inline constexpr char kDateKind[] = "com.apple.contacts.Date";
inline constexpr char kRelatedNameKind[] = "com.apple.contacts.Related Name";
// A group: "name", and "members", the Contact record identifiers of its members.
inline constexpr char kGroupKind[] = "com.apple.contacts.Group";
// Sent as a Contact record's "image" when the photo did not change: the phone keeps its own. A Contact record
// sent without "image" loses its photo.
inline constexpr char kImageUnchangedMarker[] = "SDImageUnchangedMarker";
// The phone ignores a larger image (and so drops the photo); larger photos are scaled down before they go.
inline constexpr qsizetype kMaxImageBytes = 768000;
// The year the phone gives a date that has none (a birthday without a year).
inline constexpr int kNoYear = 1604;
// Put under a record identifier, it deletes the record (a Contact together with its records).
inline constexpr char kEmptyParameter[] = "___EmptyParameterString___";

// The kind of a record (its "com.apple.syncservices.RecordEntityName").
QString kindOf(const PlistCFType &record);
// The entity type of the rows a kind of record becomes: 1 for a Contact record, 0 for a kind not synced.
int entityTypeOfKind(const QString &kind);
// The kind of record a row of an entity type travels as on its own; empty for the types carried by the Contact
// record (name, photo, nickname, note, organization) and for groups.
QString kindOfEntityType(int type);
// True for a row carried inside its Contact record: name, photo, nickname, note, organization, and a birthday
// (an event whose type code is 3).
bool travelsInContactRecord(int type, const pim::DataRow &row);
// The Contact record identifiers a record names in "contact".
QStringList contactRefs(const PlistCFType &record);

// Type texts of the device ↔ type codes of the rows. typeCode() gives -1 for a text the kind's table does not list;
// typeText() gives "other" for a code the entity's table does not list (and an empty text for a birthday, which
// is never a Date record).
int typeCode(int entityType, const QString &typeText);
QString typeText(int entityType, int code);
// IM services ↔ protocol codes: -1, respectively an empty text, when the table does not list it.
int serviceCode(const QString &service);
QString serviceText(int code);

// An ISO 8601 date or date-time in the row's value (text in the extended or basic form, or a date value a reader
// put there); an invalid date-time when it holds none. A date alone stands for its local midnight.
QDateTime isoDateTime(const QVariant &value);
// A date node of the phone as rows keep it: its date in UTC as "yyyy-MM-dd", or "--MM-dd" for a date without a
// year (year 1604); empty for a node that is no date.
QString dateText(const PlistCFType &value);
// The date a row's value names: an ISO 8601 date or date-time (its date as written), or "--MM-DD" / "--MMDD" (year
// 1604); invalid when it names none.
QDate rowDate(const QVariant &value);
// That date as the phone's date node (midnight UTC of the date); the null value when the value names no date.
PlistCFType dateNode(const QVariant &value);

// Identifiers. A Contact record goes under the contact's source id, or "-" and its local _id while the device does
// not know it; another record under the row's source id, or "type/contact record id/-row _id".
QString contactRecordId(const pim::Contact &contact);
QString rowRecordId(int type, const QString &contactRecordId, qint64 negatedRowId, const pim::DataRow &row);
// The local _id in a key of the device's remapping: of a contact ("-5"), of a row ("3/17/-42", found anywhere in
// the key); 0 when the key has not that form.
qint64 contactIdOfRemapKey(const QString &key);
qint64 rowIdOfRemapKey(const QString &key);

// Reading. Every row carries the record identifier as its source id.
pim::DataRow contactToNameRow(const PlistCFType &record, const QString &id);
// The rows a Contact record may carry besides its name; false (no row) when the record lacks their key(s).
bool contactToNicknameRow(const PlistCFType &record, const QString &id, pim::DataRow *row);
bool contactToOrganizationRow(const PlistCFType &record, const QString &id, pim::DataRow *row);
bool contactToBirthdayRow(const PlistCFType &record, const QString &id, pim::DataRow *row);
bool contactToPhotoRow(const PlistCFType &record, const QString &id, pim::DataRow *row);
bool contactToNoteRow(const PlistCFType &record, const QString &id, pim::DataRow *row);
pim::DataRow phoneRecordToRow(const PlistCFType &record, const QString &id);
pim::DataRow emailRecordToRow(const PlistCFType &record, const QString &id);
pim::DataRow addressRecordToRow(const PlistCFType &record, const QString &id);
pim::DataRow urlRecordToRow(const PlistCFType &record, const QString &id);
pim::DataRow imRecordToRow(const PlistCFType &record, const QString &id);
pim::DataRow dateRecordToRow(const PlistCFType &record, const QString &id);
pim::DataRow relatedNameRecordToRow(const PlistCFType &record, const QString &id);
// The contact a Contact record describes: full name, source id and every row it carries (name row first).
pim::Contact contactRecordToContact(const PlistCFType &record, const QString &id);
// The row of a record of another kind, by its kind; false for a Contact record or a kind not synced.
bool recordToRow(const PlistCFType &record, const QString &id, int *type, pim::DataRow *row);

// A group record's name and the Contact record identifiers of its members.
QString groupName(const PlistCFType &record);
QStringList groupMembers(const PlistCFType &record);

// Writing. The phone replaces a record with what it is sent, dropping keys that are not there. So a record the
// phone gave before (original, kept by IosRecordArchive) is sent back as it was, with only the keys changed whose
// values the rows changed; keys the rows do not carry ("display as company", "middle name yomi", an exact date)
// stay. A photo that did not change goes as the unchanged marker; a new one larger than the phone takes is scaled
// down. Without an original the record is built from the rows alone.
PlistCFType contactRecord(const pim::Contact &contact, const PlistCFType &original = PlistCFType());
// The null value when the row yields no record.
PlistCFType rowRecord(const QString &contactRecordId, int type, const pim::DataRow &row,
                      const PlistCFType &original = PlistCFType());
// contactToRecord adds the contact's Contact record to the batch under contactRecordId(contact); rowToRecord adds
// the record of one row (nothing when the row yields none) under rowRecordId(...).
void contactToRecord(PlistCFType &batch, const pim::Contact &contact, const PlistCFType &original = PlistCFType());
void rowToRecord(PlistCFType &batch, const QString &contactRecordId, int type, qint64 negatedRowId,
                 const pim::DataRow &row, const PlistCFType &original = PlistCFType());
// A contact the phone shows as a company: no part of a person's name, and a company name.
bool isCompanyCard(const pim::Contact &contact);
// The image as the phone takes it: itself when small enough, otherwise scaled down to a JPEG within the limit
// (itself again when it can not be read as a picture).
QByteArray imageForPhone(const QByteArray &image);

} // namespace iosrecords
