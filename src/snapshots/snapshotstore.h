#pragma once

// Snapshots: before a write to a phone or a local database, the contact database as it is at that moment (a
// phone's cache as just read from the phone, or the local database file) is copied with SQLite's online backup
// API into the data folder's "snapshots" folder. Each snapshot is a pair of files named after its id:
//   <id>.db     the copy taken before the write
//   <id>.json   what it is: time, kind, target (serial, UDID or database name), operation, SHA-256 of the copy
// and, once the write has succeeded, <id>.after.db, the same database after the write, so that an undo can tell
// what the write did from what happened on the phone since. Old snapshots are removed by age and by count per
// target (settings in "snapshots.ini" of the data folder). Everything lives on disk: a new process sees them all.

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <stdexcept>

namespace pim {
struct Contact;
}

// Thrown when a snapshot cannot be written (the write it guards must not start) or read back.
class SnapshotError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Thrown for a snapshot whose files are missing, altered or not a contact database: nothing of it is applied.
class SnapshotDamaged : public SnapshotError
{
public:
    using SnapshotError::SnapshotError;
};

struct SnapshotInfo
{
    enum class Kind { Android, Ios, LocalDb };

    QString id; // file base name; ids sort in the order the snapshots were taken
    Kind kind = Kind::LocalDb;
    QString target;       // adb serial, UDID, or the database's file name ("Work.db")
    QString targetName;   // what the user sees: the phone's name or the database name
    QString operation;    // what the write was: "transfer", "delete", "undo", ...
    QDateTime time;       // when it was taken (UTC)
    int contacts = 0;     // contacts in the copy
    qint64 bytes = 0;     // disk use of its files
    QString sha256;       // of <id>.db
    QString afterSha256;  // of <id>.after.db; empty while there is none
    bool damaged = false; // its description could not be read

    static QString kindName(Kind kind);
    static std::optional<Kind> kindFromName(const QString &name);
};

class SnapshotStore
{
public:
    struct Limits
    {
        int maxAgeDays = 30;   // older snapshots are removed (0: no age limit)
        int maxPerTarget = 20; // beyond this many per phone or database the oldest are removed (at least 1)
    };

    // The store in the data folder's "snapshots" folder; `folder` for another place.
    SnapshotStore();
    explicit SnapshotStore(const QString &folder);

    const QString &folder() const { return m_folder; }

    // The limits saved in the settings, or the defaults.
    static Limits limits();
    static void setLimits(const Limits &limits);
    static QString settingsPath();

    // Copies the database at dbPath as the state before `operation`, then removes snapshots beyond the limits
    // (never the new one). Throws SnapshotError when the copy cannot be made completely: the caller must not write.
    SnapshotInfo take(SnapshotInfo::Kind kind, const QString &target, const QString &targetName,
                      const QString &operation, const QString &dbPath);
    // Keeps the database at dbPath as the state after the snapshot's write. Throws SnapshotError.
    void recordAfter(SnapshotInfo &info, const QString &dbPath);

    // The snapshots of a target, newest first (every target's when target is empty).
    QList<SnapshotInfo> list(SnapshotInfo::Kind kind, const QString &target) const;
    QList<SnapshotInfo> listAll() const;
    std::optional<SnapshotInfo> find(const QString &id) const;
    // Bytes used by every snapshot in the folder.
    qint64 diskUse() const;
    // Removes snapshots older than the limit and beyond the count per target, except `keepId`.
    void prune(const Limits &limits, const QString &keepId = QString());

    // The contacts of the copy before (after: false) or after the write, with their rows. Checks the file against
    // its recorded digest and opens it read-only first; throws SnapshotDamaged when anything is wrong.
    QList<pim::Contact> contacts(const SnapshotInfo &info, bool after) const;
    bool hasAfter(const SnapshotInfo &info) const { return !info.afterSha256.isEmpty(); }

    QString beforePath(const QString &id) const;
    QString afterPath(const QString &id) const;
    QString infoPath(const QString &id) const;

private:
    void writeInfo(const SnapshotInfo &info) const;
    std::optional<SnapshotInfo> readInfo(const QString &id) const;
    void remove(const QString &id) const;

    QString m_folder;
};

// Copies a SQLite database file with the online backup API (a consistent copy even while another connection has
// it open), writing to a temporary name first. Throws SnapshotError.
void backupDatabase(const QString &from, const QString &to);
