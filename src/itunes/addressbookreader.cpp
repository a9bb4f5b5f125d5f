#include "itunes/addressbookreader.h"

#include "contacts/contactname.h"
#include "contacts/ioslabels.h"
#include "itunes/log.h"

#include <QDateTime>
#include <QHash>
#include <QTimeZone>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Persons, multi-values and entries are each read in one pass, walked in step by person id (a query per person
// was most of the reading time for large address books); a photo is looked up per person by its unique id, so
// that only one photo at a time sits in a query result.
constexpr char kPersonsSql[] = "select rowid, first,last,middle,prefix,suffix,organization,department,jobtitle,note,"
                               "birthday,nickname from Abperson order by rowid asc";
constexpr char kPhotoSql[] = "select data from ABFullSizeImage where record_id=? limit 1";
// A left join: values without a label row are imported too (iOS leaves many phones and e-mails unlabeled).
constexpr char kMultiValuesSql[] =
    "select v.UID,v.property,v.value,l.value as subType,v.record_id from abmultivalue as v"
    " left join abmultivaluelabel as l on v.label=l.rowid"
    " order by v.record_id asc, v.UID asc";
constexpr char kEntriesSql[] = "select v.value,l.value as key,v.parent_id from abmultivalueentry as v"
                               " inner join abmultivalueentrykey as l on v.key=l.rowid order by v.parent_id, v.rowid";

// Columns of the persons query, by position (SQLite reports the declared spelling of a column, "First" for
// "first", so names are not relied upon).
enum PersonColumn {
    PRowId,
    PFirst,
    PLast,
    PMiddle,
    PPrefix,
    PSuffix,
    POrganization,
    PDepartment,
    PJobTitle,
    PNote,
    PBirthday,
    PNickname
};

// Multi-value properties of the address book.
enum Property {
    PropPhone = 3,
    PropEmail = 4,
    PropAddress = 5,
    PropDate = 12,
    PropIm = 13,
    PropUrl = 22,
    PropRelated = 23
};

const QHash<QString, int> &imServices()
{
    static const QHash<QString, int> t{{u"AIM"_s, 1},       {u"MSN"_s, 2},        {u"Yahoo"_s, 3}, {u"Skype"_s, 4},
                                       {u"QQ"_s, 5},        {u"GoogleTalk"_s, 6}, {u"ICQ"_s, 7},   {u"Jabber"_s, 8},
                                       {u"GaduGadu"_s, 10}, {u"Facebook"_s, 11}};
    return t;
}

// "data2" from the label: the code of one of the phone's own labels (the table the phone link shares); 0 and the
// label's text as "data3" for any other text; 0 alone when there is no label.
void setLabel(pim::DataRow &row, int entityType, const QString &label)
{
    if (label.isEmpty()) {
        row.setValue(u"data2"_s, u"0"_s);
        return;
    }
    const int code = ioslabels::codeOfLabel(entityType, label);
    if (code >= 0) {
        row.setValue(u"data2"_s, QString::number(code));
    } else {
        row.setValue(u"data2"_s, u"0"_s);
        row.setValue(u"data3"_s, ioslabels::customLabelText(label));
    }
}

pim::DataRow rowWith(const QString &data1)
{
    pim::DataRow row;
    row.setValue(u"data1"_s, data1);
    return row;
}

} // namespace

AddressBookReader::AddressBookReader(Sqlite3DB &addressBook, Sqlite3DB *images)
    : m_addressBook(addressBook), m_images(images)
{
}

int AddressBookReader::start()
{
    m_persons = m_addressBook.queryThrow(kPersonsSql);
    m_values = m_addressBook.queryThrow(kMultiValuesSql);
    m_valueCurrent = m_values.moveNext();
    m_entries.clear();
    Sqlite3Cursor entries = m_addressBook.queryThrow(kEntriesSql);
    while (entries.moveNext())
        m_entries[entries.getInt64(2)].append({entries.getText(1), entries.getText(0)});
    return m_persons.count();
}

QString AddressBookReader::dateText(const QString &secondsSince2001)
{
    bool ok = false;
    const double seconds = secondsSince2001.trimmed().toDouble(&ok);
    // About ±3000 years: beyond that a value is not a date, and QDateTime arithmetic would overflow.
    if (!ok || !std::isfinite(seconds) || std::fabs(seconds) > 1e11)
        return QString();
    static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    return epoch.addSecs(qint64(seconds)).toLocalTime().toString(Qt::ISODate);
}

bool AddressBookReader::readNext(pim::Contact &contact)
{
    if (!m_persons.moveNext())
        return false;
    const Sqlite3Cursor &p = m_persons;
    contact = pim::Contact();
    const qint64 personId = p.getInt64(PRowId);

    pim::DataRow name;
    name.setValue(u"data2"_s, p.getText(PFirst));
    name.setValue(u"data3"_s, p.getText(PLast));
    name.setValue(u"data4"_s, p.getText(PMiddle));
    name.setValue(u"data5"_s, p.getText(PPrefix));
    name.setValue(u"data6"_s, p.getText(PSuffix));
    contact.full_name = pim::displayName(name);
    name.setValue(u"data1"_s, contact.full_name);
    contact.addRow(pim::ENTITY_NAME, name);

    if (m_images && m_images->isOpen()) {
        Sqlite3Sql photoSql(kPhotoSql);
        photoSql.addInt64Param(personId);
        // A damaged page or an oversized value costs this photo, not the contact. An interrupt is the cancel
        // and goes on up.
        try {
            Sqlite3Cursor photo = m_images->queryThrow(photoSql);
            if (photo.moveNext()) {
                const QByteArray bytes = photo.getBlob(0);
                if (!bytes.isEmpty()) {
                    pim::DataRow row;
                    row.setValue(u"data15"_s, bytes);
                    contact.addRow(pim::ENTITY_PHOTO, row);
                }
            }
        } catch (const Sqlite3Exception &e) {
            if (e.isInterrupted())
                throw;
            ++m_skippedPhotos;
            qCDebug(lcItunes, "AddressBookReader, person %lld: photo not read: %s", personId, e.what());
        }
    }

    const QString organization = p.getText(POrganization);
    const QString department = p.getText(PDepartment);
    const QString jobTitle = p.getText(PJobTitle);
    if (!organization.isEmpty() || !department.isEmpty() || !jobTitle.isEmpty()) {
        pim::DataRow row = rowWith(organization);
        row.setValue(u"data5"_s, department);
        row.setValue(u"data4"_s, jobTitle);
        contact.addRow(pim::ENTITY_ORGANIZATION, row);
        pim::makeCompanyContact(contact); // a card without a person's name is shown by its company
    }

    const QString note = p.getText(PNote);
    if (!note.isEmpty())
        contact.addRow(pim::ENTITY_NOTE, rowWith(note));

    // Any number is a birthday, before 2001 too (negative seconds); only NULL or empty text means none. iOS
    // keeps year 1604 for a birthday without a year, which stays as it converts.
    const QString birthday = p.getText(PBirthday);
    if (!birthday.trimmed().isEmpty()) {
        const QString date = dateText(birthday);
        if (date.isEmpty()) {
            ++m_skipped;
            qCDebug(lcItunes, "AddressBookReader, person %lld: birthday \"%s\" is not a date", personId,
                    qPrintable(birthday));
        } else {
            pim::DataRow row = rowWith(date);
            row.setValue(u"data2"_s, u"3"_s);
            contact.addRow(pim::ENTITY_EVENT, row);
        }
    }

    const QString nickname = p.getText(PNickname);
    if (!nickname.isEmpty())
        contact.addRow(pim::ENTITY_NICKNAME, rowWith(nickname));

    addMultiValues(personId, contact);
    return true;
}

void AddressBookReader::addMultiValues(qint64 personId, pim::Contact &contact)
{
    Sqlite3Cursor &v = m_values;
    // Values of persons that do not exist (or come before this one) are passed over.
    while (m_valueCurrent && (v.isNull(4) || v.getInt64(4) < personId))
        m_valueCurrent = v.moveNext();
    for (; m_valueCurrent && v.getInt64(4) == personId; m_valueCurrent = v.moveNext()) {
        const qint64 valueId = v.getInt64(0);
        const int property = v.getInt(1);
        const QString value = v.getText(2);
        const QString label = v.getText(3);
        pim::DataRow row;
        int type = 0;
        switch (property) {
        case PropPhone:
            type = pim::ENTITY_PHONE;
            row = rowWith(value);
            setLabel(row, pim::ENTITY_PHONE, label);
            break;
        case PropEmail:
            type = pim::ENTITY_EMAIL;
            row = rowWith(value);
            setLabel(row, type, label);
            break;
        case PropAddress:
            type = pim::ENTITY_ADDRESS;
            setLabel(row, type, label);
            fillEntries(valueId, property, row);
            break;
        case PropDate: {
            const QString date = dateText(value);
            if (date.isEmpty()) {
                ++m_skipped;
                qCDebug(lcItunes, "AddressBookReader, person %lld: date \"%s\" is not a date", personId,
                        qPrintable(value));
                continue;
            }
            type = pim::ENTITY_EVENT;
            row = rowWith(date);
            setLabel(row, pim::ENTITY_EVENT, label);
            break;
        }
        case PropIm:
            type = pim::ENTITY_IM;
            setLabel(row, type, label);
            fillEntries(valueId, property, row);
            break;
        case PropUrl:
            type = pim::ENTITY_WEBSITE;
            row = rowWith(value);
            setLabel(row, pim::ENTITY_WEBSITE, label);
            break;
        case PropRelated:
            type = pim::ENTITY_RELATION;
            row = rowWith(value);
            setLabel(row, pim::ENTITY_RELATION, label);
            break;
        default:
            // Social profiles (46) and whatever later versions add.
            ++m_skipped;
            qCDebug(lcItunes, "AddressBookReader, person %lld: property %d not imported", personId, property);
            continue;
        }
        contact.addRow(type, row);
    }
}

void AddressBookReader::fillEntries(qint64 valueId, int property, pim::DataRow &row)
{
    static const QHash<QString, QString> addressColumns{{u"Street"_s, u"data4"_s},
                                                        {u"City"_s, u"data7"_s},
                                                        {u"State"_s, u"data8"_s},
                                                        {u"ZIP"_s, u"data9"_s},
                                                        {u"Country"_s, u"data10"_s}};
    for (const auto &[key, value] : m_entries.value(valueId)) {
        if (property == PropAddress) {
            const QString column = addressColumns.value(key);
            if (!column.isEmpty())
                row.setValue(column, value);
        } else if (key == u"service") {
            const auto it = imServices().constFind(value);
            if (it != imServices().constEnd())
                row.setValue(u"data5"_s, QString::number(*it));
        } else if (key == u"username") {
            row.setValue(u"data1"_s, value);
        }
    }
    if (property == PropAddress)
        row.setValue(u"data1"_s, pim::addressText(row));
}
