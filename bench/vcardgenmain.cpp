// vcard-bench-gen OUT.vcf [CONTACTS [PHOTO_EVERY [PHOTO_BYTES]]]: writes the benchmark's vCard file.

#include "vcardgen.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: vcard-bench-gen OUT.vcf [CONTACTS [PHOTO_EVERY [PHOTO_BYTES]]]\n");
        return 2;
    }
    const int contacts = args.value(1, QStringLiteral("10000")).toInt();
    const int photoEvery = args.value(2, QStringLiteral("10")).toInt();
    const int photoBytes = args.value(3, QStringLiteral("20480")).toInt();
    QFile out(args.first());
    if (!out.open(QIODevice::WriteOnly) || out.write(generateVCards(contacts, photoEvery, photoBytes)) < 0) {
        std::fprintf(stderr, "%s\n", qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
