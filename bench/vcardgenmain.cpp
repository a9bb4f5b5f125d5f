// vcard-bench-gen OUT.vcf [CONTACTS [PHOTO_EVERY [PHOTO_BYTES]]]: writes the benchmark's vCard file.
// vcard-bench-gen --mixed OUT.vcf [CONTACTS [FIRST_INDEX]]: writes the mixed address-book file instead.

#include "vcardgen.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool mixed = !args.isEmpty() && args.first() == QStringLiteral("--mixed");
    if (mixed)
        args.removeFirst();
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: vcard-bench-gen OUT.vcf [CONTACTS [PHOTO_EVERY [PHOTO_BYTES]]]\n"
                             "       vcard-bench-gen --mixed OUT.vcf [CONTACTS [FIRST_INDEX]]\n");
        return 2;
    }
    const int contacts = args.value(1, QStringLiteral("10000")).toInt();
    QByteArray bytes;
    if (mixed) {
        bytes = generateMixedVCards(contacts, args.value(2, QStringLiteral("0")).toInt());
    } else {
        const int photoEvery = args.value(2, QStringLiteral("10")).toInt();
        const int photoBytes = args.value(3, QStringLiteral("20480")).toInt();
        bytes = generateVCards(contacts, photoEvery, photoBytes);
    }
    QFile out(args.first());
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) < 0) {
        std::fprintf(stderr, "%s\n", qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
