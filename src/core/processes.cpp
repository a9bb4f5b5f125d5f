#include "core/processes.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Processes {

namespace {

// Reads a small /proc file whole. /proc files report size 0, so read until the end.
std::optional<QByteArray> readProcFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            if (n < 0)
                return std::nullopt;
            return data;
        }
        data.append(buffer, n);
    }
}

QByteArray readLink(const QByteArray &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

bool isNumber(const char *name)
{
    if (!*name)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

// The numeric entries of /proc: one per process (threads are hidden there).
QList<qint64> processIds()
{
    QList<qint64> pids;
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return pids;
    while (const dirent *entry = ::readdir(dir))
        if (isNumber(entry->d_name))
            pids.append(QByteArray(entry->d_name).toLongLong());
    ::closedir(dir);
    return pids;
}

// The state letter of /proc/<pid>/stat, which follows the parenthesised name (itself free to hold ") ").
char processState(const QByteArray &stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    return close >= 0 && close + 2 < stat.size() ? stat.at(close + 2) : '?';
}

// Socket inodes of the rows of one /proc/net/tcp* table whose local port is `port`.
void collectInodes(const QByteArray &table, quint16 port, QSet<quint64> &inodes)
{
    const QByteArrayList lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) { // line 0 is the column header
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
        const QByteArrayList fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 10)
            continue;
        const QByteArray &local = fields.at(1);
        const qsizetype colon = local.lastIndexOf(':');
        bool portOk = false;
        bool inodeOk = false;
        const uint localPort = local.mid(colon + 1).toUInt(&portOk, 16);
        const quint64 inode = fields.at(9).toULongLong(&inodeOk);
        // Inode 0: a socket no process holds any more (TIME_WAIT and the like).
        if (colon > 0 && portOk && inodeOk && localPort == port && inode != 0)
            inodes.insert(inode);
    }
}

} // namespace

std::optional<QList<Entry>> list()
{
    if (::access("/proc/self/stat", R_OK) != 0)
        return std::nullopt;
    QList<Entry> entries;
    for (const qint64 pid : processIds()) {
        const QByteArray dir = "/proc/" + QByteArray::number(pid);
        const std::optional<QByteArray> stat = readProcFile(dir + "/stat");
        const std::optional<QByteArray> comm = readProcFile(dir + "/comm");
        if (!stat || !comm) // ended while we looked
            continue;
        const char state = processState(*stat);
        if (state == 'Z' || state == 'X')
            continue;
        Entry entry;
        entry.pid = pid;
        entry.uid = userOf(pid).value_or(Entry::kNoUser);
        entry.comm = QString::fromUtf8(comm->endsWith('\n') ? comm->chopped(1) : *comm);
        QByteArray exe = readLink(dir + "/exe");
        // The kernel marks an executable removed from disk after the start; the name is still the program's.
        if (exe.endsWith(" (deleted)"))
            exe.chop(10);
        if (!exe.isEmpty())
            entry.exeName = QString::fromUtf8(exe.mid(exe.lastIndexOf('/') + 1));
        entries.append(entry);
    }
    return entries;
}

std::optional<QList<qint64>> localTcpPortOwners(quint16 port)
{
    const std::optional<QByteArray> tcp4 = readProcFile("/proc/net/tcp");
    const std::optional<QByteArray> tcp6 = readProcFile("/proc/net/tcp6"); // absent when IPv6 is off
    if (!tcp4 && !tcp6)
        return std::nullopt;
    QSet<quint64> inodes;
    if (tcp4)
        collectInodes(*tcp4, port, inodes);
    if (tcp6)
        collectInodes(*tcp6, port, inodes);

    QList<qint64> owners;
    if (inodes.isEmpty())
        return owners;
    // A socket belongs to every process that holds a descriptor "socket:[inode]" for it.
    for (const qint64 pid : processIds()) {
        const QByteArray fdDir = "/proc/" + QByteArray::number(pid) + "/fd";
        DIR *dir = ::opendir(fdDir.constData());
        if (!dir) // ended, or another user's process we may not look into
            continue;
        bool holds = false;
        while (const dirent *entry = ::readdir(dir)) {
            if (!isNumber(entry->d_name))
                continue;
            const QByteArray target = readLink(fdDir + '/' + entry->d_name);
            if (target.startsWith("socket:[") && target.endsWith(']') &&
                inodes.contains(target.mid(8, target.size() - 9).toULongLong())) {
                holds = true;
                break;
            }
        }
        ::closedir(dir);
        if (holds)
            owners.append(pid);
    }
    return owners;
}

uint currentUser()
{
    return ::getuid();
}

std::optional<uint> userOf(qint64 pid)
{
    struct stat info
    {
    };
    const QByteArray dir = "/proc/" + QByteArray::number(pid);
    if (pid <= 0 || ::stat(dir.constData(), &info) != 0)
        return std::nullopt;
    return info.st_uid;
}

QString executablePath(qint64 pid)
{
    QByteArray exe = readLink("/proc/" + QByteArray::number(pid) + "/exe");
    if (exe.endsWith(" (deleted)"))
        exe.chop(10);
    return QString::fromUtf8(exe);
}

bool end(qint64 pid)
{
    // Another user's process is never ours to end, even when we could (running as root).
    if (pid <= 0 || pid == ::getpid() || userOf(pid) != currentUser())
        return false;
    return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

Ops Ops::system()
{
    return Ops{&Processes::list, &Processes::localTcpPortOwners, &Processes::end, &Processes::userOf};
}

} // namespace Processes
