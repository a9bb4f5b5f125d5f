#include "core/privatetemp.h"

#include "core/datafolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Paths of the folders alive in this process, as fixed C strings a signal handler can read. A slot is taken
// by setting `used` after its path is written, and given back before the folder is removed.
constexpr int kSlots = 64;
constexpr int kPathMax = 4096;
struct Slot
{
    std::atomic<bool> used{false};
    char path[kPathMax] = {};
};
std::array<Slot, kSlots> registry;
std::array<std::atomic<bool>, kSlots> slotTaken{};

int takeSlot(const QByteArray &path)
{
    if (path.size() >= kPathMax)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (!slotTaken[i].compare_exchange_strong(expected, true))
            continue;
        std::memcpy(registry[i].path, path.constData(), size_t(path.size()) + 1);
        registry[i].used.store(true);
        return i;
    }
    return -1; // more than 64 at once: the folder is still removed by its owner, only not by a handler
}

void giveSlot(int slot)
{
    if (slot < 0)
        return;
    registry[slot].used.store(false);
    slotTaken[slot].store(false);
}

// Removes a folder and what it holds, a few levels deep, with system calls only.
void removeTree(const char *path, int depth)
{
    if (DIR *dir = ::opendir(path)) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            char child[kPathMax];
            const size_t length = std::strlen(path);
            const size_t nameLength = std::strlen(entry->d_name);
            if (length + 1 + nameLength >= sizeof(child))
                continue;
            std::memcpy(child, path, length);
            child[length] = '/';
            std::memcpy(child + length + 1, entry->d_name, nameLength + 1);
            struct stat info;
            if (::lstat(child, &info) == 0 && S_ISDIR(info.st_mode)) {
                if (depth > 0)
                    removeTree(child, depth - 1);
            } else {
                ::unlink(child);
            }
        }
        ::closedir(dir);
    }
    ::rmdir(path);
}

// Folders of processes that no longer run, left by a kill that gave no chance to clean up.
void removeStaleFolders(const QString &parent)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_]+-(\\d+)-[A-Za-z0-9]{6}$"));
    const QStringList names = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        const pid_t pid = pid_t(match.captured(1).toLongLong());
        if (pid == ::getpid() || (pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH)))
            continue;
        QDir(parent + QLatin1Char('/') + name).removeRecursively();
    }
}

} // namespace

PrivateTempDir::PrivateTempDir(const QString &prefix)
{
    const QString parent = parentFolder();
    if (!QFileInfo(parent).isDir()) {
        m_error = QStringLiteral("cannot create %1").arg(parent);
        return;
    }
    removeStaleFolders(parent);
    QByteArray pattern =
        QFile::encodeName(QStringLiteral("%1/%2-%3-XXXXXX").arg(parent, prefix).arg(qint64(::getpid())));
    // mkdtemp makes the folder with mode 0700 under a name nobody could have chosen beforehand.
    if (!::mkdtemp(pattern.data())) {
        m_error = QStringLiteral("cannot create %1: %2")
                      .arg(QFile::decodeName(pattern), QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_path = QFile::decodeName(pattern);
    m_slot = takeSlot(pattern);
}

PrivateTempDir::~PrivateTempDir()
{
    if (m_path.isEmpty())
        return;
    giveSlot(m_slot);
    QDir(m_path).removeRecursively();
}

QString PrivateTempDir::filePath(const QString &name) const
{
    return m_path + QLatin1Char('/') + name;
}

QString PrivateTempDir::parentFolder()
{
    return DataFolder::tempDir();
}

void PrivateTempDir::removeAllNow()
{
    for (int i = 0; i < kSlots; ++i) {
        if (registry[i].used.load())
            removeTree(registry[i].path, 3);
    }
}
