// backup-maker: writes an iTunes-style backup folder from a vCard file (see README.md).
#include "backupwriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <exception>

using namespace Qt::StringLiterals;

namespace {

int usage(const QString &message)
{
    std::fprintf(stderr, "backup-maker: %s\n", qPrintable(message));
    std::fprintf(stderr, "usage: backup-maker OUT_DIR --seed FILE.vcf [--layout mbdb|db] [--password P] "
                         "[--iterations N,M] [--device-name NAME] [--salted-descriptions]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addPositionalArgument(u"OUT_DIR"_s, u"the backup folder to write"_s);
    parser.addOptions({
        {u"seed"_s, u"vCard file with the address book"_s, u"FILE.vcf"_s},
        {u"layout"_s, u"mbdb (iOS 9 and older) or db (iOS 10 and later, the default)"_s, u"LAYOUT"_s, u"db"_s},
        {u"password"_s, u"encrypt the backup with this password"_s, u"P"_s},
        {u"iterations"_s, u"ITER, or ITER,DPIC (DPIC adds DPSL/DPIC to the keybag)"_s, u"N,M"_s},
        {u"device-name"_s, u"the device's name"_s, u"NAME"_s, u"iPhone"_s},
        {u"salted-descriptions"_s, u"the iOS 10.0 form: plain Manifest.db, enciphered descriptions"_s},
    });
    parser.addHelpOption();
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet(u"help"_s)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return usage(u"one OUT_DIR is required"_s);
    if (!parser.isSet(u"seed"_s))
        return usage(u"--seed is required"_s);

    BackupOptions options;
    options.outDir = parser.positionalArguments().constFirst();
    const QString layout = parser.value(u"layout"_s);
    if (layout != u"db" && layout != u"mbdb")
        return usage(u"--layout is mbdb or db"_s);
    options.mbdbLayout = layout == u"mbdb";
    options.password = parser.value(u"password"_s);
    options.deviceName = parser.value(u"device-name"_s);
    options.saltedDescriptions = parser.isSet(u"salted-descriptions"_s);
    // The counts real keybags carry: 10,000 SHA-1 rounds, and from iOS 10.2 (the db layout) 10,000,000 SHA-256
    // rounds before them.
    options.iterations = 10000;
    options.dpic = options.mbdbLayout || options.saltedDescriptions ? 0 : 10000000;
    if (parser.isSet(u"iterations"_s)) {
        const QStringList counts = parser.value(u"iterations"_s).split(u',');
        bool ok1 = false;
        bool ok2 = true;
        options.iterations = counts.value(0).toInt(&ok1);
        options.dpic = counts.size() > 1 ? counts.value(1).toInt(&ok2) : 0;
        if (counts.size() > 2 || !ok1 || !ok2 || options.iterations < 1 || options.dpic < 0)
            return usage(u"--iterations takes N or N,M with N >= 1"_s);
    }

    QFile seed(parser.value(u"seed"_s));
    if (!seed.open(QIODevice::ReadOnly))
        return usage(u"cannot read %1: %2"_s.arg(seed.fileName(), seed.errorString()));
    options.seed = seed.readAll();

    try {
        const QList<StoredFile> stored = writeBackup(options);
        QTextStream out(stdout);
        out << "udid " << makerUdid(options.deviceName) << '\n';
        for (const StoredFile &f : stored)
            out << "stored " << f.fileId << ' ' << f.size << ' ' << QString::fromLatin1(f.sha1.toHex()) << ' '
                << f.domain << '-' << f.relativePath << '\n';
    } catch (const std::exception &e) {
        std::fprintf(stderr, "backup-maker: %s\n", e.what());
        return 1;
    }
    return 0;
}
