#pragma once

#include "simplist.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

namespace simrecords {
inline constexpr char kEntityNameKey[] = "com.apple.syncservices.RecordEntityName";
inline constexpr char kContact[] = "com.apple.contacts.Contact";
// A group: "name" and "members" (Contact record identifiers); it names no contact in "contact".
inline constexpr char kGroup[] = "com.apple.contacts.Group";
// A Contact record's "image" that says the photo did not change: the phone keeps the one it has.
inline constexpr char kImageUnchangedMarker[] = "SDImageUnchangedMarker";
// A larger image is ignored: the record keeps no photo.
inline constexpr qsizetype kMaxImageBytes = 768000;
inline constexpr char kEmptyParameter[] = "___EmptyParameterString___";
// The record kinds the phone keeps, with the entity type numbers of the program's contact model (the Contact
// record itself carries the name and more; 1 stands for it).
int entityType(const QString &kind); // 0 for a kind the phone does not know
} // namespace simrecords

// Records by identifier, in identifier order. They are kept in chunks of consecutive identifiers that copies share
// until one of them changes a chunk: every sync session works on a copy of the store, and with 100,000 contacts a
// session that adds ten of them must not copy every record.
class SimRecords
{
    using Chunk = QMap<quint64, Plist>;
    using Chunks = QMap<quint64, Chunk>;

public:
    class const_iterator
    {
    public:
        quint64 key() const { return m_in.key(); }
        const Plist &value() const { return m_in.value(); }
        const_iterator &operator++();
        bool operator==(const const_iterator &other) const
        {
            return m_chunk == other.m_chunk && (m_chunk == m_end || m_in == other.m_in);
        }
        bool operator!=(const const_iterator &other) const { return !(*this == other); }

    private:
        friend class SimRecords;
        const_iterator(Chunks::const_iterator chunk, Chunks::const_iterator end);
        Chunks::const_iterator m_chunk, m_end;
        Chunk::const_iterator m_in;
    };

    const_iterator begin() const { return const_iterator(m_chunks.cbegin(), m_chunks.cend()); }
    const_iterator end() const { return const_iterator(m_chunks.cend(), m_chunks.cend()); }
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    bool contains(quint64 id) const { return node(id) != nullptr; }
    // The record's tree, still owned here (null when there is none); changing it needs mutableNode().
    plist_t node(quint64 id) const;
    plist_t mutableNode(quint64 id);
    void insert(quint64 id, Plist record);
    void remove(quint64 id);
    void clear();

private:
    Chunks m_chunks;
    qsizetype m_size = 0;
};

// The simulated phone's address book: records (property-list dictionaries) keyed by the identifiers the phone gave
// them, decimal numbers counting up. Every record but a Contact names its Contact records in "contact".
class SimStore
{
public:
    SimRecords records;
    quint64 nextId = 1;

    // Opens the store file (created when missing; an empty path keeps the store in memory only). An empty store is
    // filled from the vCard file seedPath when one is given.
    bool open(const QString &path, const QString &seedPath, QString *error);
    // Writes the file (nothing without a path). A store of more than kPromptSaveRecords records is written by a
    // thread of its own once no save has followed for a second, and at the latest when the last copy of the store
    // goes: a transfer of many contacts finishes a session every ten contacts, and rewriting a file of hundreds of
    // megabytes each time would take hours. Errors of such a write go to stderr.
    bool save(QString *error) const;
    QString path() const { return m_path; }
    static constexpr qsizetype kPromptSaveRecords = 2000;

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

    class Writer;

private:
    QString m_path;
    std::shared_ptr<Writer> m_writer; // shared by the copies of one store
};
