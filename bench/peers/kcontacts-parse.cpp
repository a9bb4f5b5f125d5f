// kcontacts-parse FILE.vcf: the comparison program for KDE's contact library. Reads the file and parses every
// card into an Addressee, keeping them all; prints the number of contacts. Built by scripts/bench.sh against
// Debian's libkf5contacts-dev (Qt 5), outside the project's own build.

#include <KContacts/VCardConverter>

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kcontacts-parse FILE.vcf\n");
        return 2;
    }
    KContacts::Addressee::List list;
    {
        QFile file(QString::fromLocal8Bit(argv[1]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
            return 1;
        }
        list = KContacts::VCardConverter().parseVCards(file.readAll());
    }
    qsizetype phones = 0;
    for (const KContacts::Addressee &a : std::as_const(list))
        phones += a.phoneNumbers().size();
    std::printf("%lld contacts, %lld phones\n", static_cast<long long>(list.size()), static_cast<long long>(phones));
    return 0;
}
