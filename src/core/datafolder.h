#pragma once

#include <QString>
#include <QStringList>

// The per-user data folder: local databases, device caches. Computed once per process from the home folder
// (QDir::homePath(), so HOME decides) and an optional redirect file, then cached.
namespace DataFolder {

// Product identifier: the root's folder name and the redirect file's base name.
inline constexpr char kProductId[] = "5D0C2E9A71B84F3C8E6A4B19D27F03E6";

// The root folder; every call (re)creates it with its missing parents. Throws std::runtime_error when the
// redirect file names a folder that does not exist.
QString root();
// The text of that error, or empty when the data folder can be found; for start-up, to stop with a clear box.
QString problem();
// Sub-folders of the root, created when missing.
QString localDbDir();      // "data": the user's local databases
QString androidCacheDir(); // "android_cache": one cache file per adb serial
QString iosCacheDir();     // "ios_cache": one cache file per UDID
QString tempDir();         // "tmp": private folders of running operations (see PrivateTempDir)

// The file name of a device's cache: the device id percent-encoded (":" kept), never hidden, and shortened with a
// digest when it would be too long for a file name.
QString cacheFileName(const QString &deviceId);

// True when writing to `path` would overwrite something of the data folder: the path lies inside it (through
// links too), or names the same file as one of its databases or caches (a hard link). An export must never go
// there: it would replace a database with a contact file.
bool holds(const QString &path);

// The application-data base folder under the home folder (no caching, no creation).
QString baseFolder();
// Where the redirect file is looked for.
QString redirectFilePath();

// Forgets the cached root so the next call computes it again; for tests that change HOME.
void resetCache();

} // namespace DataFolder

// The user's local databases in the data folder's "data" sub-folder.
namespace LocalDbFiles {
// A database name as the user types it becomes a file name: ".db" is appended unless the name already ends
// with it (case-sensitive, so "Work.DB" becomes "Work.DB.db").
QString fileNameFor(const QString &name);
// False when the name contains a character a file name cannot hold: \ / : * ? " < > | or a line feed,
// carriage return or tab.
bool isValidName(const QString &name);
// Why a name cannot be a database's name, empty when it can: besides the characters above, a name that would make
// a hidden file or none ("", ".", "..", ".db", anything starting with "."), control characters, and the
// direction marks and overrides that make a name look like another one ("\u202Egpj.db" shows as "bd.jpg").
QString nameProblem(const QString &name);
// Full path of a database file in the "data" sub-folder.
QString pathFor(const QString &fileName);
// File names of the "*.db" files (files only), oldest modification time first.
QStringList list();
} // namespace LocalDbFiles

// The error log: every text shown in an error box, with a time stamp, in "errors.log" of the data root.
namespace ErrorLog {
QString path();
void append(const QString &text);
} // namespace ErrorLog
