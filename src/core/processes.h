#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The few process facilities the conflicting-process watchers need, read from /proc on Linux.
namespace Processes {

// One running process: its id, the name the kernel keeps for it (/proc/<pid>/comm, at most 15 characters,
// what a Windows program under Wine shows as "name.exe") and the file name of its executable (empty when
// /proc/<pid>/exe cannot be read, e.g. for another user's process). Both as found, not lower-cased.
struct Entry
{
    qint64 pid = 0;
    QString comm;
    QString exeName;
    // The user the process runs as (owner of /proc/<pid>); kNoUser when unknown.
    uint uid = kNoUser;
    static constexpr uint kNoUser = ~0u;
};

// The user we run as.
uint currentUser();
// The user a process runs as, nullopt when it has ended.
std::optional<uint> userOf(qint64 pid);
// The full path of a process's executable (empty when it cannot be read, e.g. another user's process).
QString executablePath(qint64 pid);

// Every process that is still running; zombies (ended, waiting for their parent) are left out because there
// is nothing left to end. nullopt when /proc cannot be read.
std::optional<QList<Entry>> list();

// The ids of the processes holding a TCP socket (IPv4 or IPv6) whose local port is `port`, in any state:
// listening, or connected from that port. A socket that is only connected to that port as its remote end does
// not count. nullopt when neither /proc/net/tcp nor /proc/net/tcp6 can be read. Processes of other users are
// only found when we may read their /proc/<pid>/fd.
std::optional<QList<qint64>> localTcpPortOwners(quint16 port);

// Ends the process at once (SIGKILL) without waiting for it. Refuses ids <= 0 (which would signal a whole
// process group or every process), our own id and other users' processes. False when refused or the signal could not be
// sent.
bool end(qint64 pid);

// The three operations as replaceable functions: the watchers use system(); their tests substitute fakes to
// drive the watchers' logic without touching real processes.
struct Ops
{
    std::function<std::optional<QList<Entry>>()> list;
    std::function<std::optional<QList<qint64>>(quint16)> localTcpPortOwners;
    std::function<bool(qint64)> end;
    std::function<std::optional<uint>(qint64)> userOf;

    static Ops system();
};

} // namespace Processes
