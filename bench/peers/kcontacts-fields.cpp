// kcontacts-fields FILE.vcf: what KDE's contact library reads from a vCard file, one line per field:
// "CONTACT<TAB>KIND<TAB>TYPE WORDS<TAB>VALUE", CONTACT counting the cards from 0, the type words being the
// library's own type flags in lower case (joined by ","). bench/peers/roundtrip.py compares them with what
// this program exported. Built by bench/peers/roundtrip.sh against Debian's libkf5contacts-dev (Qt 5).

#include <KContacts/VCardConverter>

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

QString clean(QString text)
{
    return text.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

template <typename Flags> QString words(Flags type, std::initializer_list<std::pair<int, const char *>> names)
{
    QStringList out;
    for (const auto &[flag, name] : names)
        if (int(type) & flag)
            out << QLatin1String(name);
    return out.join(QLatin1Char(','));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kcontacts-fields FILE.vcf\n");
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s\n", qPrintable(file.errorString()));
        return 1;
    }
    const KContacts::Addressee::List list = KContacts::VCardConverter().parseVCards(file.readAll());
    QTextStream out(stdout);
    out.setCodec("UTF-8");
    int n = 0;
    for (const KContacts::Addressee &a : list) {
        const auto line = [&](const char *kind, const QString &types, const QString &value) {
            if (!value.isEmpty())
                out << n << '\t' << kind << '\t' << types << '\t' << clean(value) << '\n';
        };
        line("fn", QString(), a.formattedName());
        line("given", QString(), a.givenName());
        line("family", QString(), a.familyName());
        for (const KContacts::PhoneNumber &p : a.phoneNumbers())
            line("phone",
                 words(p.type(), {{KContacts::PhoneNumber::Home, "home"},
                                  {KContacts::PhoneNumber::Work, "work"},
                                  {KContacts::PhoneNumber::Msg, "msg"},
                                  {KContacts::PhoneNumber::Voice, "voice"},
                                  {KContacts::PhoneNumber::Fax, "fax"},
                                  {KContacts::PhoneNumber::Cell, "cell"},
                                  {KContacts::PhoneNumber::Video, "video"},
                                  {KContacts::PhoneNumber::Bbs, "bbs"},
                                  {KContacts::PhoneNumber::Modem, "modem"},
                                  {KContacts::PhoneNumber::Car, "car"},
                                  {KContacts::PhoneNumber::Isdn, "isdn"},
                                  {KContacts::PhoneNumber::Pcs, "pcs"},
                                  {KContacts::PhoneNumber::Pager, "pager"}}),
                 p.number());
        for (const KContacts::Email &e : a.emailList())
            line("email",
                 words(e.type(), {{KContacts::Email::Home, "home"},
                                  {KContacts::Email::Work, "work"},
                                  {KContacts::Email::Other, "other"}}),
                 e.mail());
        for (const KContacts::Address &ad : a.addresses())
            line("address",
                 words(ad.type(), {{KContacts::Address::Home, "home"},
                                   {KContacts::Address::Work, "work"},
                                   {KContacts::Address::Intl, "intl"},
                                   {KContacts::Address::Postal, "postal"}}),
                 QStringList{ad.postOfficeBox(), ad.extended(), ad.street(), ad.locality(), ad.region(),
                             ad.postalCode(), ad.country()}
                     .join(QLatin1Char(';')));
        // The first URL is also url(); the list holds them all.
        KContacts::ResourceLocatorUrl::List urls = a.extraUrlList();
        if (urls.isEmpty() && a.url().isValid() && !a.url().url().isEmpty())
            urls.append(a.url());
        for (const KContacts::ResourceLocatorUrl &u : urls)
            line("url",
                 words(u.type(), {{KContacts::ResourceLocatorUrl::Home, "home"},
                                  {KContacts::ResourceLocatorUrl::Work, "work"},
                                  {KContacts::ResourceLocatorUrl::Profile, "profile"},
                                  {KContacts::ResourceLocatorUrl::Other, "other"}}),
                 u.url().toString());
        for (const KContacts::Impp &i : a.imppList())
            line("im", i.serviceType(), i.address().path());
        if (a.birthday().isValid())
            line("birthday", QString(), a.birthday().date().toString(Qt::ISODate));
        if (a.anniversary().isValid())
            line("anniversary", QString(), a.anniversary().toString(Qt::ISODate));
        line("note", QString(), a.note());
        line("org", QString(), a.organization());
        line("department", QString(), a.department());
        line("title", QString(), a.title());
        line("nickname", QString(), a.nickName());
        for (const QString &c : a.categories())
            line("group", QString(), c);
        ++n;
    }
    return 0;
}
