// itunes-password-run [BACKUP_DIR PASSWORD]: times the password check at real iteration counts.
// Without arguments: unlockKeybag on hashcat's published mode-14800 example (DPIC 10,000,000, ITER 10,000,
// password "hashcat"). With a backup folder: BackupManifest::setPassword, which also deciphers Manifest.db.
#include "itunes/backupmanifest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtEndian>

#include <cstdio>
#include <exception>

namespace {

QByteArray item(const char *tag, const QByteArray &value)
{
    QByteArray length(4, '\0');
    qToBigEndian(quint32(value.size()), length.data());
    return QByteArray(tag, 4) + length + value;
}

QByteArray number(quint32 n)
{
    QByteArray b(4, '\0');
    qToBigEndian(n, b.data());
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QElapsedTimer timer;
    bool ok = false;
    try {
        if (args.size() == 3) {
            BackupManifest m(args[1]);
            m.readInfo();
            timer.start();
            ok = m.setPassword(args[2]);
        } else {
            const QByteArray bag =
                item("UUID", QByteArray(16, 'u')) + item("WRAP", number(0)) +
                item("SALT", QByteArray::fromHex("2353363784073608264337337723324886300850")) +
                item("ITER", number(10000)) + item("DPIC", number(10000000)) +
                item("DPSL", QByteArray::fromHex("425b4bb4e200b5fd4c66979c9caca31716052063")) +
                item("UUID", QByteArray(16, 'c')) + item("CLAS", number(1)) + item("WRAP", number(3)) +
                item("WPKY", QByteArray::fromHex(
                                 "8b715f516ff8e64442c478c2d9abb046fc6979ab079007d3dbcef3ddd84217f4c3db01362d88fa68"));
            Keybag kb = parseKeybag(bag);
            timer.start();
            ok = unlockKeybag("hashcat", kb);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("password check %s %lld ms\n", ok ? "accepted" : "refused", static_cast<long long>(timer.elapsed()));
    return ok ? 0 : 1;
}
