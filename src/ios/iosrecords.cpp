#include "ios/iosrecords.h"

#include "contacts/contactname.h"
#include "contacts/ioslabels.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QRegularExpression>
#include <QSet>

#include <cmath>

#include <utility>

using namespace Qt::StringLiterals;
using pim::DataRow;

namespace iosrecords {

namespace {

using TypeTable = QList<std::pair<QString, int>>;

// The type texts of each entity type, as the device names them. Reading looks a text up; writing looks a code
// up, and a code not listed is written as "other".
const TypeTable &typeTable(int entityType)
{
    static const QHash<int, TypeTable> tables = {
        {pim::ENTITY_PHONE,
         {{u"home"_s, 1},
          {u"mobile"_s, 2},
          {u"work"_s, 3},
          {u"work fax"_s, 4},
          {u"home fax"_s, 5},
          {u"pager"_s, 6},
          {u"main"_s, 12},
          {u"other"_s, 0}}},
        {pim::ENTITY_EMAIL, {{u"home"_s, 1}, {u"work"_s, 2}, {u"other"_s, 0}}},
        {pim::ENTITY_ADDRESS, {{u"home"_s, 1}, {u"work"_s, 2}, {u"other"_s, 0}}},
        {pim::ENTITY_WEBSITE, {{u"home page"_s, 1}, {u"home"_s, 4}, {u"work"_s, 5}, {u"other"_s, 0}}},
        {pim::ENTITY_IM, {{u"home"_s, 1}, {u"work"_s, 2}, {u"other"_s, 0}}},
        {pim::ENTITY_EVENT, {{u"anniversary"_s, 1}, {u"other"_s, 0}}},
        {pim::ENTITY_RELATION,
         {{u"assistant"_s, 1},
          {u"brother"_s, 2},
          {u"child"_s, 3},
          {u"father"_s, 5},
          {u"friend"_s, 6},
          {u"manager"_s, 7},
          {u"mother"_s, 8},
          {u"parent"_s, 9},
          {u"partner"_s, 10},
          {u"sister"_s, 13},
          {u"spouse"_s, 14},
          {u"other"_s, 0}}},
    };
    static const TypeTable none;
    const auto it = tables.constFind(entityType);
    return it == tables.constEnd() ? none : *it;
}

const TypeTable &serviceTable()
{
    static const TypeTable table = {{u"aim"_s, 1},       {u"msn"_s, 2},        {u"yahoo"_s, 3}, {u"skype"_s, 4},
                                    {u"qq"_s, 5},        {u"googletalk"_s, 6}, {u"icq"_s, 7},   {u"jabber"_s, 8},
                                    {u"gadugadu"_s, 10}, {u"facebook"_s, 11}};
    return table;
}

constexpr int kBirthday = 3;
// Dates count from here, in UTC.
const QDate kDateEpoch(2001, 1, 1);

QString text(const PlistCFType &record, const char *key)
{
    return record.item(QLatin1String(key)).toString();
}

bool has(const PlistCFType &record, const char *key)
{
    return !record.item(QLatin1String(key)).isNull();
}

// A date of a record as the rows keep it (see dateText() in the header); a text value stays as it is.
QString dateValueText(const PlistCFType &value)
{
    if (value.type() == PlistCFType::TypeDate)
        return iosrecords::dateText(value);
    return value.toString();
}

DataRow rowWithId(const QString &id)
{
    DataRow row;
    row.src_id = id;
    return row;
}

// "data2" and "data3" from the record's "label" and "type": one of the phone's own labels gives its code (through
// the table shared with the backup reader); otherwise "data2" comes from "type" (left unset for a text the table
// does not list) and "data3" is the label's text.
void readLabelAndType(int entityType, const PlistCFType &record, DataRow &row)
{
    const QString label = text(record, "label");
    const int labelCode = label.isEmpty() ? -1 : ioslabels::codeOfLabel(entityType, label);
    if (labelCode >= 0) {
        row.setValue(u"data2"_s, QString::number(labelCode));
        row.setValue(u"data3"_s, QString());
        return;
    }
    const int code = typeCode(entityType, text(record, "type"));
    if (code >= 0)
        row.setValue(u"data2"_s, QString::number(code));
    row.setValue(u"data3"_s, ioslabels::customLabelText(label));
}

DataRow valueRecordToRow(int entityType, const PlistCFType &record, const QString &id)
{
    DataRow row = rowWithId(id);
    row.setValue(u"data1"_s, text(record, "value"));
    readLabelAndType(entityType, record, row);
    return row;
}

PlistCFType newRecord(const char *kind)
{
    PlistCFType record = PlistCFType::newDict();
    record.setItem(QLatin1String(kRecordEntityName), PlistCFType::fromString(QLatin1String(kind)));
    return record;
}

// Sets key to the row's column when the column is not empty.
void putText(PlistCFType &record, const char *key, const DataRow &row, const QString &column)
{
    const QString value = row.text(column);
    if (!value.isEmpty())
        record.setItem(QLatin1String(key), PlistCFType::fromString(value));
}

} // namespace

QString kindOf(const PlistCFType &record)
{
    return text(record, kRecordEntityName);
}

int entityTypeOfKind(const QString &kind)
{
    static const QHash<QString, int> types = {
        {QLatin1String(kContactKind), pim::ENTITY_NAME}, {QLatin1String(kPhoneKind), pim::ENTITY_PHONE},
        {QLatin1String(kEmailKind), pim::ENTITY_EMAIL},  {QLatin1String(kAddressKind), pim::ENTITY_ADDRESS},
        {QLatin1String(kUrlKind), pim::ENTITY_WEBSITE},  {QLatin1String(kImKind), pim::ENTITY_IM},
        {QLatin1String(kDateKind), pim::ENTITY_EVENT},   {QLatin1String(kRelatedNameKind), pim::ENTITY_RELATION},
    };
    return types.value(kind, 0);
}

QString kindOfEntityType(int type)
{
    switch (type) {
    case pim::ENTITY_PHONE:
        return QLatin1String(kPhoneKind);
    case pim::ENTITY_EMAIL:
        return QLatin1String(kEmailKind);
    case pim::ENTITY_ADDRESS:
        return QLatin1String(kAddressKind);
    case pim::ENTITY_WEBSITE:
        return QLatin1String(kUrlKind);
    case pim::ENTITY_IM:
        return QLatin1String(kImKind);
    case pim::ENTITY_EVENT:
        return QLatin1String(kDateKind);
    case pim::ENTITY_RELATION:
        return QLatin1String(kRelatedNameKind);
    default:
        return QString();
    }
}

bool travelsInContactRecord(int type, const DataRow &row)
{
    switch (type) {
    case pim::ENTITY_NAME:
    case pim::ENTITY_PHOTO:
    case pim::ENTITY_NICKNAME:
    case pim::ENTITY_NOTE:
    case pim::ENTITY_ORGANIZATION:
        return true;
    case pim::ENTITY_EVENT:
        return row.text(u"data2"_s).toInt() == kBirthday;
    default:
        return false;
    }
}

QStringList contactRefs(const PlistCFType &record)
{
    QStringList refs;
    const PlistCFType array = record.item(u"contact"_s);
    for (int i = 0, n = array.count(); i < n; ++i)
        refs << array.item(i).toString();
    return refs;
}

int typeCode(int entityType, const QString &typeText)
{
    for (const auto &[name, code] : typeTable(entityType))
        if (name == typeText)
            return code;
    return -1;
}

QString typeText(int entityType, int code)
{
    if (entityType == pim::ENTITY_EVENT && code == kBirthday)
        return QString();
    for (const auto &[name, c] : typeTable(entityType))
        if (c == code)
            return name;
    return u"other"_s;
}

int serviceCode(const QString &service)
{
    for (const auto &[name, code] : serviceTable())
        if (name == service)
            return code;
    return -1;
}

QString serviceText(int code)
{
    for (const auto &[name, c] : serviceTable())
        if (c == code)
            return name;
    return QString();
}

QDateTime isoDateTime(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime();
    if (value.metaType().id() == QMetaType::QDate)
        return value.toDate().startOfDay();
    const QString s = value.toString().trimmed();
    if (s.isEmpty())
        return {};
    QDateTime dt = QDateTime::fromString(s, Qt::ISODate);
    if (dt.isValid())
        return dt;
    const QDate d = QDate::fromString(s, Qt::ISODate);
    if (d.isValid())
        return d.startOfDay();
    // The basic form (19800229, 19800229T120000).
    static const QRegularExpression basic(u"^(\\d{4})(\\d{2})(\\d{2})(?:T(\\d{2})(\\d{2})(\\d{2})?)?$"_s);
    const QRegularExpressionMatch m = basic.match(s);
    if (!m.hasMatch())
        return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        return {};
    if (!m.hasCaptured(4))
        return date.startOfDay();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    return time.isValid() ? QDateTime(date, time) : QDateTime();
}

QString dateText(const PlistCFType &value)
{
    bool ok = false;
    const double seconds = value.toSeconds(&ok);
    if (!ok || !std::isfinite(seconds))
        return QString();
    // Whole days from the epoch in UTC: a date alone never moves with the computer's time zone.
    const qint64 days = qint64(std::floor(seconds / 86400.0));
    const QDate date = kDateEpoch.addDays(days);
    if (!date.isValid())
        return QString();
    return date.year() == kNoYear ? date.toString(u"--MM-dd"_s) : date.toString(u"yyyy-MM-dd"_s);
}

QDate rowDate(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QDate)
        return value.toDate();
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().date();
    // A date without a year: "--MM-DD" (vCard 4.0, ISO 8601:2000) or "--MMDD".
    static const QRegularExpression noYear(u"^--(\\d{2})-?(\\d{2})$"_s);
    const QRegularExpressionMatch m = noYear.match(value.toString().trimmed());
    if (m.hasMatch())
        return QDate(kNoYear, m.captured(1).toInt(), m.captured(2).toInt());
    // A date-time stands for the date written in it, whatever zone it names.
    return isoDateTime(value).date();
}

PlistCFType dateNode(const QVariant &value)
{
    const QDate date = rowDate(value);
    if (!date.isValid())
        return PlistCFType();
    return PlistCFType::fromSeconds(double(kDateEpoch.daysTo(date)) * 86400.0);
}

QString contactRecordId(const pim::Contact &contact)
{
    return contact.src_id.isEmpty() ? u"-"_s + QString::number(contact._id) : contact.src_id;
}

QString rowRecordId(int type, const QString &contactRecordId, qint64 negatedRowId, const DataRow &row)
{
    if (!row.src_id.isEmpty())
        return row.src_id;
    return u"%1/%2/%3"_s.arg(type).arg(contactRecordId).arg(negatedRowId);
}

qint64 contactIdOfRemapKey(const QString &key)
{
    static const QRegularExpression pattern(u"^-(\\d+)$"_s);
    const QRegularExpressionMatch m = pattern.match(key);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

qint64 rowIdOfRemapKey(const QString &key)
{
    static const QRegularExpression pattern(u"\\d+/\\d+/\\-(\\d+)"_s);
    const QRegularExpressionMatch m = pattern.match(key);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Reading

DataRow contactToNameRow(const PlistCFType &record, const QString &id)
{
    DataRow row = rowWithId(id);
    row.setValue(u"data2"_s, text(record, "first name"));
    row.setValue(u"data7"_s, text(record, "first name yomi"));
    row.setValue(u"data4"_s, text(record, "middle name"));
    row.setValue(u"data3"_s, text(record, "last name"));
    row.setValue(u"data8"_s, text(record, "last name yomi"));
    row.setValue(u"data5"_s, text(record, "title"));
    row.setValue(u"data6"_s, text(record, "suffix"));
    row.setValue(u"data1"_s, pim::displayName(row));
    return row;
}

bool contactToNicknameRow(const PlistCFType &record, const QString &id, DataRow *row)
{
    if (!has(record, "nickname"))
        return false;
    *row = rowWithId(id);
    row->setValue(u"data1"_s, text(record, "nickname"));
    row->setValue(u"data3"_s, u"1"_s);
    return true;
}

bool contactToOrganizationRow(const PlistCFType &record, const QString &id, DataRow *row)
{
    if (!has(record, "company name") && !has(record, "department") && !has(record, "job title"))
        return false;
    *row = rowWithId(id);
    row->setValue(u"data2"_s, u"1"_s);
    row->setValue(u"data1"_s, text(record, "company name"));
    row->setValue(u"data5"_s, text(record, "department"));
    row->setValue(u"data4"_s, text(record, "job title"));
    return true;
}

bool contactToBirthdayRow(const PlistCFType &record, const QString &id, DataRow *row)
{
    if (!has(record, "birthday"))
        return false;
    *row = rowWithId(id);
    row->setValue(u"data2"_s, QString::number(kBirthday));
    row->setValue(u"data1"_s, dateValueText(record.item(u"birthday"_s)));
    return true;
}

bool contactToPhotoRow(const PlistCFType &record, const QString &id, DataRow *row)
{
    if (!record.item(u"image"_s).isData() || record.item(u"image"_s).toByteArray().isEmpty())
        return false;
    *row = rowWithId(id);
    row->setValue(u"data15"_s, record.item(u"image"_s).toByteArray());
    return true;
}

bool contactToNoteRow(const PlistCFType &record, const QString &id, DataRow *row)
{
    if (!has(record, "notes"))
        return false;
    *row = rowWithId(id);
    row->setValue(u"data1"_s, text(record, "notes"));
    return true;
}

DataRow phoneRecordToRow(const PlistCFType &record, const QString &id)
{
    return valueRecordToRow(pim::ENTITY_PHONE, record, id);
}

DataRow emailRecordToRow(const PlistCFType &record, const QString &id)
{
    return valueRecordToRow(pim::ENTITY_EMAIL, record, id);
}

DataRow addressRecordToRow(const PlistCFType &record, const QString &id)
{
    DataRow row = rowWithId(id);
    row.setValue(u"data4"_s, text(record, "street"));
    row.setValue(u"data7"_s, text(record, "city"));
    row.setValue(u"data8"_s, text(record, "state"));
    row.setValue(u"data9"_s, text(record, "postal code"));
    row.setValue(u"data10"_s, text(record, "country"));
    row.setValue(u"data11"_s, text(record, "country code"));
    readLabelAndType(pim::ENTITY_ADDRESS, record, row);
    row.setValue(u"data1"_s, pim::addressText(row));
    return row;
}

DataRow urlRecordToRow(const PlistCFType &record, const QString &id)
{
    return valueRecordToRow(pim::ENTITY_WEBSITE, record, id);
}

DataRow imRecordToRow(const PlistCFType &record, const QString &id)
{
    DataRow row = rowWithId(id);
    row.setValue(u"data1"_s, text(record, "user"));
    const int service = serviceCode(text(record, "service"));
    if (service >= 0)
        row.setValue(u"data5"_s, QString::number(service));
    readLabelAndType(pim::ENTITY_IM, record, row);
    return row;
}

DataRow dateRecordToRow(const PlistCFType &record, const QString &id)
{
    DataRow row = rowWithId(id);
    row.setValue(u"data1"_s, dateValueText(record.item(u"value"_s)));
    readLabelAndType(pim::ENTITY_EVENT, record, row);
    return row;
}

DataRow relatedNameRecordToRow(const PlistCFType &record, const QString &id)
{
    return valueRecordToRow(pim::ENTITY_RELATION, record, id);
}

pim::Contact contactRecordToContact(const PlistCFType &record, const QString &id)
{
    pim::Contact contact;
    const DataRow name = contactToNameRow(record, id);
    contact.src_id = id;
    contact.full_name = name.text(u"data1"_s);
    contact.addRow(pim::ENTITY_NAME, name);
    DataRow row;
    if (contactToNicknameRow(record, id, &row))
        contact.addRow(pim::ENTITY_NICKNAME, row);
    if (contactToOrganizationRow(record, id, &row))
        contact.addRow(pim::ENTITY_ORGANIZATION, row);
    if (contactToBirthdayRow(record, id, &row))
        contact.addRow(pim::ENTITY_EVENT, row);
    if (contactToPhotoRow(record, id, &row))
        contact.addRow(pim::ENTITY_PHOTO, row);
    if (contactToNoteRow(record, id, &row))
        contact.addRow(pim::ENTITY_NOTE, row);
    // A card the phone shows as a company, or one without a person's name, lists under its company.
    const QString company = contact.firstRow(pim::ENTITY_ORGANIZATION).text(u"data1"_s);
    if (!company.trimmed().isEmpty() &&
        (text(record, "display as company") == QLatin1String("company") || pim::isCompanyContact(contact)))
        contact.full_name = company;
    return contact;
}

QString groupName(const PlistCFType &record)
{
    return text(record, "name");
}

QStringList groupMembers(const PlistCFType &record)
{
    QStringList members;
    const PlistCFType array = record.item(u"members"_s);
    for (int i = 0, n = array.count(); i < n; ++i)
        if (!array.item(i).toString().isEmpty())
            members << array.item(i).toString();
    return members;
}

bool recordToRow(const PlistCFType &record, const QString &id, int *type, DataRow *row)
{
    const int t = entityTypeOfKind(kindOf(record));
    switch (t) {
    case pim::ENTITY_PHONE:
        *row = phoneRecordToRow(record, id);
        break;
    case pim::ENTITY_EMAIL:
        *row = emailRecordToRow(record, id);
        break;
    case pim::ENTITY_ADDRESS:
        *row = addressRecordToRow(record, id);
        break;
    case pim::ENTITY_WEBSITE:
        *row = urlRecordToRow(record, id);
        break;
    case pim::ENTITY_IM:
        *row = imRecordToRow(record, id);
        break;
    case pim::ENTITY_EVENT:
        *row = dateRecordToRow(record, id);
        break;
    case pim::ENTITY_RELATION:
        *row = relatedNameRecordToRow(record, id);
        break;
    default:
        return false;
    }
    *type = t;
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Writing

namespace {

// The Contact record of a contact as its rows alone give it.
PlistCFType freshContactRecord(const pim::Contact &contact)
{
    PlistCFType record = newRecord(kContactKind);
    record.setItem(u"display as company"_s,
                   PlistCFType::fromString(isCompanyCard(contact) ? u"company"_s : u"person"_s));

    const DataRow name = contact.firstRow(pim::ENTITY_NAME);
    putText(record, "first name", name, u"data2"_s);
    putText(record, "first name yomi", name, u"data7"_s);
    putText(record, "middle name", name, u"data4"_s);
    putText(record, "last name", name, u"data3"_s);
    putText(record, "last name yomi", name, u"data8"_s);
    putText(record, "title", name, u"data5"_s);
    putText(record, "suffix", name, u"data6"_s);

    const DataRow organization = contact.firstRow(pim::ENTITY_ORGANIZATION);
    putText(record, "company name", organization, u"data1"_s);
    putText(record, "department", organization, u"data5"_s);
    putText(record, "job title", organization, u"data4"_s);

    putText(record, "nickname", contact.firstRow(pim::ENTITY_NICKNAME), u"data1"_s);

    // The last birthday with a readable date stands.
    for (const DataRow &event : contact.rows(pim::ENTITY_EVENT)) {
        if (event.text(u"data2"_s).toInt() != kBirthday)
            continue;
        const PlistCFType date = dateNode(event.value(u"data1"_s));
        if (!date.isNull())
            record.setItem(u"birthday"_s, date);
    }

    const QByteArray image = contact.firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray();
    if (!image.isEmpty())
        record.setItem(u"image"_s, PlistCFType::fromByteArray(image));

    putText(record, "notes", contact.firstRow(pim::ENTITY_NOTE), u"data1"_s);
    return record;
}

// The record of one row as the row alone gives it; the null value when the row yields none.
PlistCFType freshRowRecord(const QString &contactRecordId, int type, const DataRow &row)
{
    const QString kind = kindOfEntityType(type);
    if (kind.isEmpty())
        return PlistCFType();
    PlistCFType record = newRecord(kind.toLatin1().constData());
    switch (type) {
    case pim::ENTITY_PHONE:
    case pim::ENTITY_EMAIL:
    case pim::ENTITY_WEBSITE:
    case pim::ENTITY_RELATION:
        if (row.text(u"data1"_s).isEmpty())
            return PlistCFType();
        record.setItem(u"value"_s, PlistCFType::fromString(row.text(u"data1"_s)));
        break;
    case pim::ENTITY_IM: {
        if (row.text(u"data1"_s).isEmpty())
            return PlistCFType();
        record.setItem(u"user"_s, PlistCFType::fromString(row.text(u"data1"_s)));
        bool numeric = false;
        const int protocol = row.text(u"data5"_s).toInt(&numeric);
        const QString service = numeric ? serviceText(protocol) : QString();
        if (!service.isEmpty())
            record.setItem(u"service"_s, PlistCFType::fromString(service));
        break;
    }
    case pim::ENTITY_EVENT: {
        if (travelsInContactRecord(type, row))
            return PlistCFType(); // a birthday goes in the Contact record
        const PlistCFType date = dateNode(row.value(u"data1"_s));
        if (date.isNull())
            return PlistCFType();
        record.setItem(u"value"_s, date);
        break;
    }
    case pim::ENTITY_ADDRESS:
        if (pim::addressText(row).isEmpty())
            return PlistCFType();
        putText(record, "country", row, u"data10"_s);
        putText(record, "country code", row, u"data11"_s);
        putText(record, "state", row, u"data8"_s);
        putText(record, "city", row, u"data7"_s);
        putText(record, "street", row, u"data4"_s);
        putText(record, "postal code", row, u"data9"_s);
        break;
    default:
        return PlistCFType();
    }

    const QString label = row.text(u"data3"_s);
    if (!label.isEmpty()) {
        record.setItem(u"label"_s, PlistCFType::fromString(label));
        record.setItem(u"type"_s, PlistCFType::fromString(u"other"_s));
    } else {
        // A code the phone has a type for goes as that type; one it knows only as a label of its own (another
        // fax) as that label; a code it has neither for, as the closest one it has.
        bool numeric = false;
        const int given = row.text(u"data2"_s).toInt(&numeric);
        const int code = numeric ? ioslabels::nearestCode(type, given) : 0;
        const QString typeName = typeText(type, code);
        const QString token = ioslabels::labelOfCode(type, code);
        if (typeCode(type, typeName) == code || token.isEmpty()) {
            record.setItem(u"type"_s, PlistCFType::fromString(typeName));
        } else {
            record.setItem(u"label"_s, PlistCFType::fromString(token));
            record.setItem(u"type"_s, PlistCFType::fromString(u"other"_s));
        }
    }

    PlistCFType contacts = PlistCFType::newArray();
    contacts.append(PlistCFType::fromString(contactRecordId));
    record.setItem(u"contact"_s, contacts);
    return record;
}

// The record to send: the phone's own record (original) with the keys whose values the rows changed replaced, or
// removed when the rows no longer give them. A key is changed when the record built from the rows differs there
// from the record the same rows would have given when they were read (fromOriginal). Without an original (a
// record new to the phone, or one of another kind) the record built from the rows.
PlistCFType overOriginal(const PlistCFType &fresh, const PlistCFType &fromOriginal, const PlistCFType &original)
{
    if (!original.isDict() || kindOf(original) != kindOf(fresh))
        return fresh;
    PlistCFType result = original.copy();
    QSet<QString> keys;
    for (const PlistCFType &key : fresh.keys())
        keys.insert(key.toString());
    for (const PlistCFType &key : fromOriginal.keys())
        keys.insert(key.toString());
    for (const QString &key : std::as_const(keys)) {
        const PlistCFType now = fresh.item(key);
        if (now.sameAs(fromOriginal.item(key)))
            continue; // not edited: the phone's own value stays
        if (now.isNull())
            result.removeItem(key);
        else
            result.setItem(key, now.copy());
    }
    return result;
}

} // namespace

QByteArray imageForPhone(const QByteArray &image)
{
    if (image.size() <= kMaxImageBytes)
        return image;
    QImage picture;
    if (!picture.loadFromData(image))
        return image; // not a picture this computer can read: sent as it is
    if (picture.hasAlphaChannel())
        picture = picture.convertToFormat(QImage::Format_RGB32);
    double factor = std::sqrt(double(kMaxImageBytes) / double(image.size()));
    for (int attempt = 0; attempt < 12; ++attempt) {
        const int width = std::max(1, int(picture.width() * factor));
        const int height = std::max(1, int(picture.height() * factor));
        const QImage smaller = picture.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (smaller.save(&buffer, "JPEG", 85) && bytes.size() <= kMaxImageBytes && !bytes.isEmpty())
            return bytes;
        factor *= 0.8;
    }
    return image;
}

bool isCompanyCard(const pim::Contact &contact)
{
    return pim::isCompanyContact(contact);
}

PlistCFType contactRecord(const pim::Contact &contact, const PlistCFType &original)
{
    const PlistCFType fresh = freshContactRecord(contact);
    if (!original.isDict() || kindOf(original) != QLatin1String(kContactKind)) {
        PlistCFType record = fresh;
        const PlistCFType image = record.item(u"image"_s);
        if (image.isData() && image.toByteArray().size() > kMaxImageBytes)
            record.setItem(u"image"_s, PlistCFType::fromByteArray(imageForPhone(image.toByteArray())));
        return record;
    }
    const PlistCFType fromOriginal = freshContactRecord(contactRecordToContact(original, QString()));
    PlistCFType record = overOriginal(fresh, fromOriginal, original);
    const PlistCFType image = record.item(u"image"_s);
    if (image.isData() && image.sameAs(original.item(u"image"_s))) {
        // The phone keeps its photo only when told that it did not change.
        record.setItem(u"image"_s, PlistCFType::fromString(QLatin1String(kImageUnchangedMarker)));
    } else if (image.isData() && image.toByteArray().size() > kMaxImageBytes) {
        record.setItem(u"image"_s, PlistCFType::fromByteArray(imageForPhone(image.toByteArray())));
    }
    return record;
}

PlistCFType rowRecord(const QString &contactRecordId, int type, const DataRow &row, const PlistCFType &original)
{
    const PlistCFType fresh = freshRowRecord(contactRecordId, type, row);
    if (fresh.isNull() || !original.isDict())
        return fresh;
    int originalType = 0;
    DataRow read;
    if (!recordToRow(original, QString(), &originalType, &read) || originalType != type)
        return fresh;
    return overOriginal(fresh, freshRowRecord(contactRecordId, type, read), original);
}

void contactToRecord(PlistCFType &batch, const pim::Contact &contact, const PlistCFType &original)
{
    batch.setItem(contactRecordId(contact), contactRecord(contact, original));
}

void rowToRecord(PlistCFType &batch, const QString &contactRecordId, int type, qint64 negatedRowId, const DataRow &row,
                 const PlistCFType &original)
{
    const PlistCFType record = rowRecord(contactRecordId, type, row, original);
    if (!record.isNull())
        batch.setItem(rowRecordId(type, contactRecordId, negatedRowId, row), record);
}

} // namespace iosrecords
