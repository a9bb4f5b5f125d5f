// vcard-parse-run FILE.vcf: reads a vCard file and turns every card into a contact, keeping them all, as the
// comparison programs in peers/ do with their libraries; prints the number of contacts and of data rows. Run
// it under /usr/bin/time -v for the time and the peak memory (scripts/bench.sh).

#include "fileio/vcard.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vcard-parse-run FILE.vcf\n");
        return 2;
    }
    QList<pim::Contact> contacts;
    {
        QFile file(QString::fromLocal8Bit(argv[1]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
            return 1;
        }
        contacts = vcard::contactsFromBytes(file.readAll());
    }
    qsizetype rows = 0;
    for (const pim::Contact &c : contacts)
        rows += c.rowCount();
    std::printf("%lld contacts, %lld rows\n", static_cast<long long>(contacts.size()), static_cast<long long>(rows));
    return 0;
}
