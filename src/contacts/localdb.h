#pragma once

// A local contact database: one SQLite file with the tables contact, data and contact_group, made from the
// built-in template. It serves as the user's own databases and as the cache of a connected device. The
// connection opens on first use; storage errors propagate as exceptions derived from std::runtime_error. A file
// whose tables are views or lack the expected columns is refused at that open. While open, the file is marked
// as in use, so that another process cannot delete it (removeFile).

#include "contacts/combinerule.h"
#include "contacts/pim.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QSharedPointer>
#include <QString>

#include <functional>
#include <span>
#include <stdexcept>

class LocalDb
{
public:
    // What a merge-save did: the rows it wrote (by type), the stored contact as it now is, and whether a
    // stored contact with the same name existed.
    struct SaveResult
    {
        QMap<int, QList<pim::DataRow>> written;
        pim::Contact stored;
        bool merged = false;
    };

    // Stores both; no file access.
    LocalDb(const QString &path, const PContactCombineRule &rule);
    virtual ~LocalDb();
    LocalDb(const LocalDb &) = delete;
    LocalDb &operator=(const LocalDb &) = delete;

    const QString &path() const { return m_path; }
    const PContactCombineRule &rule() const { return m_rule; }
    // The connection, opened if needed, for callers that run statements of their own.
    Sqlite3DB &db();

    // Replaces the file at the path by a copy of the template (":res/db.db"), readable and writable by the
    // owner only. Throws std::runtime_error with the file error text when the copy fails.
    void createFromTemplate();
    void beginTransaction();
    void endTransaction(bool commit);
    void close();
    // Closes the connection and deletes the file; false when the deletion failed. Throws std::runtime_error
    // ("in use") and deletes nothing while another process has the database open.
    bool removeFile();

    // The _id of the first contact whose full name equals the name, ignoring the case of ASCII letters; 0
    // when none. "%" and "_" in the name are matched literally.
    qint64 findContactByName(const QString &name);
    // Inserts the contact row only (not its data rows) and sets the contact's _id.
    void insertContact(pim::Contact &contact);
    void updateContact(const pim::Contact &contact);
    void setContactSrcId(qint64 contactId, const QString &srcId);
    void setRowSrcId(qint64 rowId, const QString &srcId);
    void deleteRow(qint64 rowId);
    // Deletes the contact and all its data rows.
    void deleteContact(qint64 contactId);
    // Deletes the group only; membership rows are left to the caller.
    void deleteGroup(qint64 groupId);
    // The _id of the group with this name (ASCII case ignored), created when missing.
    qint64 findOrCreateGroup(const QString &name);
    // (id, name) of every group, sorted by name.
    QList<QPair<qint64, QString>> listGroups();
    // Replaces the contact's group membership by one row for the group; returns that row.
    pim::DataRow setContactGroup(qint64 contactId, qint64 groupId, const QString &groupName);

    // Inserts a row of a type under a contact and sets the row's _id. A photo's "data4" is recomputed from
    // its bytes. Throws std::runtime_error for a type outside 1..13.
    void insertRow(qint64 contactId, int type, pim::DataRow &row);
    // Updates the stored row with the row's _id; same column rules as insertRow.
    void updateRow(int type, const pim::DataRow &row);

    // The contact with its rows; an empty contact (_id 0) when there is none.
    pim::Contact loadContact(qint64 contactId);
    // Contacts that have at least one data row, sorted by full name. A group id other than 0 keeps the
    // group's members; a keyword keeps contacts with a row (other than photo and group rows) whose "data1"
    // contains it under LIKE, wildcards included.
    QList<pim::Contact> listContacts(qint64 groupId, const QString &keyword);
    // The contacts listContacts returns, in its order, without their data rows (_id, src_id and full name only):
    // the order and number of a listing, known before its rows are read.
    QList<pim::Contact> listContactHeads(qint64 groupId, const QString &keyword);
    // Where a paged listing stands: the last contact read (none yet when id is 0).
    struct PageCursor
    {
        QString name;
        bool nameNull = false; // a NULL name, which the index puts before every text
        qint64 id = 0;
    };
    // Up to `limit` contacts of listContacts(0, "") without their data rows (_id, src_id, full name), in the
    // order of the name index: NULL names first, then by the names' UTF-8 bytes, then _id (the listing's order,
    // except among empty names and names holding characters from U+E000 up, whose UTF-16 order differs); the
    // contacts after the cursor, which is moved to the last one read. One short indexed read however large the
    // database.
    QList<pim::Contact> listContactHeadsPage(PageCursor &cursor, int limit);
    // How many contacts listContacts(0, "") returns, counted by the database without reading them.
    qint64 countContacts();
    // How many contacts listContacts(groupId, keyword) returns, counted the same way.
    qint64 countContacts(qint64 groupId, const QString &keyword);
    // Replaces the data rows of these contacts (found by _id) by the stored ones, read as listContacts reads
    // them, in one statement. A contact whose rows are gone is left without rows.
    void readContactRows(std::span<pim::Contact> contacts);
    // Opens the connection read-only, for a reader beside another connection that writes to the file; every
    // later operation uses that connection, so a write through it fails.
    void openReadOnly();

    // Thrown by saveContactWithMerge when cancelled() said so; the contact's changes are rolled back.
    struct MergeCancelled : std::runtime_error
    {
        MergeCancelled() : std::runtime_error("cancelled") {}
    };
    // Adds a contact to this database, merging it into a stored contact of the same name (ASCII case ignored)
    // by the database's rule. A contact without a name is always added as a contact of its own. Runs in a
    // transaction of its own, or inside the caller's; on failure it takes back what it wrote and throws
    // std::runtime_error with the same text (when even that fails, the caller's transaction cannot commit).
    // cancelled, when given, is asked between the rows of a large contact. Virtual so that a preview's copy can
    // record what each merge-save did.
    virtual SaveResult saveContactWithMerge(const pim::Contact &contact, const std::function<bool()> &cancelled = {});

private:
    void openIfNeeded();
    // Checks the tables of a connection just opened (closing it and throwing when they are not plain tables
    // with the expected columns) and marks the file as in use by this process.
    void markInUse();
    // Makes the case-folded index on contact names that findContactByName looks names up in, once per opening.
    void ensureNameIndex();
    qint64 findOrCreateGroup(const QString &name, bool *created);
    struct SaveUndo;
    // Takes back what a save inside the caller's transaction wrote.
    void undoSave(const SaveUndo &undo);

    PContactCombineRule m_rule;
    Sqlite3DB m_db;
    QString m_path;
    bool m_nameIndexChecked = false;
    bool m_inUseMarked = false;
    bool m_undoFailed = false; // a save's changes could not be taken back: the transaction must not commit
};
