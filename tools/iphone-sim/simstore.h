#pragma once

#include "simplist.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

namespace simrecords {
inline constexpr char kEntityNameKey[] = "com.apple.syncservices.RecordEntityName";
inline constexpr char kContact[] = "com.apple.contacts.Contact";
inline constexpr char kEmptyParameter[] = "___EmptyParameterString___";
// The record kinds the phone keeps, with the entity type numbers of the program's contact model (the Contact
// record itself carries the name and more; 1 stands for it).
int entityType(const QString &kind); // 0 for a kind the phone does not know
} // namespace simrecords

// The simulated phone's address book: records (property-list dictionaries) keyed by the identifiers the phone gave
// them, decimal numbers counting up. Every record but a Contact names its Contact records in "contact".
class SimStore
{
public:
    QMap<quint64, Plist> records;
    quint64 nextId = 1;

    // Opens the store file (created when missing; an empty path keeps the store in memory only). An empty store is
    // filled from the vCard file seedPath when one is given.
    bool open(const QString &path, const QString &seedPath, QString *error);
    // Writes the file (nothing without a path).
    bool save(QString *error) const;
    QString path() const { return m_path; }

    // Adds a Contact record and its other records (whose "contact" is set here); returns the Contact's id.
    quint64 addContact(Plist contact, QList<Plist> others);

    // The store as it is written: {"nextId", "records": {id: record}, "contacts": [the readable view]}.
    QJsonObject toJson() const;

    // One batch of changes from the computer applied to this store: deletions ("___EmptyParameterString___" under
    // an identifier), updates (a known identifier), new records (any other key; the phone gives them identifiers,
    // Contacts first). Records must be of a kind the phone knows; "contact" must name Contact records the phone
    // has or got in this session. On success *remapped holds {key: new identifier} for the new records; on error
    // nothing is changed and *error says why.
    bool applyChanges(plist_t entities, QHash<QString, QString> &sessionMap, QMap<QString, QString> *remapped,
                      QString *error);

private:
    QString m_path;
};
