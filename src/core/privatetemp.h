#pragma once

#include <QString>

// A folder for files that hold personal data in plain text while an operation runs (deciphered backup files,
// address-book copies). It is made inside the data folder's "tmp" folder, which is readable by its owner only,
// under a random name that carries the process id, and removed with everything in it when the object goes.
//
// The folders alive in the process are also recorded where a signal handler can reach them:
// removeAllNow() deletes them without taking locks or allocating, so a handler that is about to end the process
// at once can call it. A folder left behind by a process that was killed outright is removed by the next
// PrivateTempDir of any later process (its process id is no longer running).
class PrivateTempDir
{
public:
    // Makes the folder; isValid() is false when that failed (errorString() says why). prefix names the kind of
    // content ("itunes") and is part of the folder's name.
    explicit PrivateTempDir(const QString &prefix);
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir &) = delete;
    PrivateTempDir &operator=(const PrivateTempDir &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }
    QString filePath(const QString &name) const;

    // The folder that holds every PrivateTempDir: "tmp" in the data folder, owner-only.
    static QString parentFolder();
    // Removes the files and folders of every PrivateTempDir alive in this process. Async-signal-safe apart
    // from reading a directory; meant for a handler that ends the process right after.
    static void removeAllNow();

private:
    QString m_path;
    QString m_error;
    int m_slot = -1;
};
