// itunes-decrypt-run KEY_HEX IN OUT: deciphers a stored file the way an import does (BackupManifest::decryptFile,
// AES-256-CBC, zero IV, 8192-byte blocks) and prints the wall time in milliseconds.
#include "itunes/backupmanifest.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <exception>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: itunes-decrypt-run KEY_HEX IN OUT\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    try {
        BackupManifest::decryptFile(QByteArray::fromHex(args[1].toLatin1()), args[2], args[3]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("decryptFile %lld ms\n", static_cast<long long>(timer.elapsed()));
    return 0;
}
