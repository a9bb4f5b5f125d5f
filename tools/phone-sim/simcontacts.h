#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

// The simulated phone's own contacts, as the companion app sees them: contacts with the phone's ids and their
// data rows, each row with the phone's row id "type/contact/raw/data" and its wire fields in readable form
// (text decoded, type words as words, dates as yyyy-MM-dd, photos as Base64).
//
// This is test equipment with its own reading of the wire, independent of the program's encoder, and strict:
// a row with the wrong number of fields, an unknown type word, bad Base64 or a bad date is refused.
struct SimRow
{
    QString id;   // "type/contact/raw/data"
    int type = 0; // the entity type as the program numbers it (1 name … 13 website)
    QStringList fields;
};

struct SimContact
{
    qint64 id = 0;  // the phone's contact id
    qint64 raw = 0; // its raw contact id (the third part of its row ids)
    QString name;   // display name, from the name row
    QList<SimRow> rows;
};

class SimContactStore
{
public:
    // How many fields follow the id for a type; -1 for a type the app does not know.
    static int fieldCount(int type);

    // From and to the store's "contacts" array.
    bool fromJson(const QJsonArray &contacts, QString *error);
    QJsonArray toJson() const;

    const QList<SimContact> &contacts() const { return m_contacts; }
    int contactCount() const { return int(m_contacts.size()); }
    bool isEmpty() const { return m_contacts.isEmpty(); }

    // Adds a contact with new ids; rows are (type, readable fields). A contact without a name row gets an empty
    // one first, as the phone's provider always has one. Returns the contact id.
    qint64 addContact(const QList<QPair<int, QStringList>> &rows);
    // Contacts read from vCard text (3.0 or 2.1): N/FN, TEL, EMAIL, ADR, ORG/TITLE, NOTE, BDAY, URL,
    // NICKNAME, CATEGORIES, PHOTO and the X-… IM properties.
    static QList<QList<QPair<int, QStringList>>> parseVCards(const QByteArray &data);

    // The "$ent:" argument of a stored row.
    static QString wireArgument(const SimRow &row);

    // Restore operations; each returns an error text for a line the app would refuse (empty when applied).
    // A new row (negative fourth part) appends "sent id=>new id" to remaps.
    QString applyEnt(const QString &argument, QStringList *remaps);
    QString applyDel(const QString &argument);
    QString applyUngroup(const QString &argument);

    static QString displayName(const QStringList &nameFields);

private:
    struct Id
    {
        int type = 0;
        qint64 contact = 0, raw = 0, data = 0;
    };
    static bool parseId(const QString &text, Id *id);
    // Checks and decodes wire fields into readable ones; false with an error text when one is bad.
    static bool fromWire(int type, const QStringList &wire, QStringList *fields, QString *error);
    static bool checkFields(int type, const QStringList &fields, QString *error);
    SimContact *contact(qint64 id);
    SimRow *row(const QString &id, SimContact **owner = nullptr);
    QString newRowId(int type, const SimContact &c)
    {
        return QStringLiteral("%1/%2/%3/%4").arg(type).arg(c.id).arg(c.raw).arg(m_nextData++);
    }

    QList<SimContact> m_contacts;
    qint64 m_nextContact = 1;
    qint64 m_nextRaw = 101;
    qint64 m_nextData = 1001;
};
