// vCards as phones, Apple, Google, Outlook, Evolution and KDE write them: the kind of every phone, e-mail,
// address and URL from its TYPE words in any spelling, custom labels, IM accounts, dates, groups, names and
// addresses; and the cards this program writes, read back and by the rules other readers follow.

#include "contacts/contactname.h"
#include "contacts/ioslabels.h"
#include "fileio/vcard.h"
#include "fileio/vcardimport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace pim;

namespace {

QByteArray card(const QByteArray &lines, const QByteArray &version = "3.0")
{
    return "BEGIN:VCARD\r\nVERSION:" + version + "\r\nN:Doe;Jo\r\n" + lines + "\r\nEND:VCARD\r\n";
}

Contact one(const QByteArray &bytes)
{
    const QList<Contact> contacts = vcard::contactsFromBytes(bytes);
    return contacts.size() == 1 ? contacts.first() : Contact();
}

// "code|label|value" of every row of a type.
QStringList rows(const Contact &c, int type, const QString &valueColumn = u"data1"_s)
{
    QStringList out;
    for (const DataRow &row : c.entities.value(type))
        out << row.text(u"data2"_s) + u'|' + row.text(u"data3"_s) + u'|' + row.text(valueColumn);
    return out;
}

} // namespace

class TestVCardKinds : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void phoneKinds_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("code");
        QTest::newRow("upper case list") << QByteArray("TEL;TYPE=WORK,VOICE:1") << 3;
        QTest::newRow("repeated TYPE") << QByteArray("TEL;type=HOME;type=VOICE:1") << 1;
        QTest::newRow("2.1 bare words") << QByteArray("TEL;WORK;FAX:1") << 4;
        QTest::newRow("pref decides nothing") << QByteArray("TEL;type=CELL;type=VOICE;type=pref:1") << 2;
        QTest::newRow("iPhone") << QByteArray("TEL;type=IPHONE;type=CELL:1") << 2;
        QTest::newRow("voice only") << QByteArray("TEL;TYPE=VOICE:1") << 0;
        QTest::newRow("no type") << QByteArray("TEL:1") << 0;
        QTest::newRow("home fax") << QByteArray("TEL;TYPE=home;TYPE=fax:1") << 5;
        QTest::newRow("fax alone") << QByteArray("TEL;FAX:1") << 13;
        QTest::newRow("work cell") << QByteArray("TEL;TYPE=WORK,CELL:1") << 17;
        QTest::newRow("work pager") << QByteArray("TEL;TYPE=WORK;TYPE=PAGER:1") << 18;
        QTest::newRow("main") << QByteArray("TEL;TYPE=MAIN:1") << 12;
        QTest::newRow("Evolution company") << QByteArray("TEL;TYPE=X-EVOLUTION-COMPANY:1") << 10;
        QTest::newRow("Evolution assistant") << QByteArray("TEL;TYPE=X-EVOLUTION-ASSISTANT:1") << 19;
        QTest::newRow("callback") << QByteArray("TEL;TYPE=X-EVOLUTION-CALLBACK:1") << 8;
        QTest::newRow("car") << QByteArray("TEL;CAR;VOICE:1") << 9;
        QTest::newRow("isdn") << QByteArray("TEL;TYPE=isdn:1") << 11;
        QTest::newRow("radio") << QByteArray("TEL;TYPE=X-EVOLUTION-RADIO:1") << 14;
        QTest::newRow("telex") << QByteArray("TEL;TYPE=X-EVOLUTION-TELEX:1") << 15;
        QTest::newRow("tty") << QByteArray("TEL;TYPE=X-EVOLUTION-TTYTDD:1") << 16;
        QTest::newRow("mms") << QByteArray("TEL;TYPE=X-MMS:1") << 20;
        QTest::newRow("pager") << QByteArray("TEL;PAGER:1") << 6;
        QTest::newRow("4.0 quoted list") << QByteArray("TEL;VALUE=uri;TYPE=\"work,voice\":tel:1") << 3;
        // Words as other writers space, quote and prefix them, and words outside ASCII: Unicode lower case makes
        // the Kelvin sign a "k", while other letters outside ASCII name no kind.
        QTest::newRow("spaces around words") << QByteArray("TEL;TYPE= Work ,\tCell :1") << 17;
        QTest::newRow("quote inside a word") << QByteArray("TEL;TYPE=ce\"ll:1") << 2;
        QTest::newRow("quoted value with a space") << QByteArray("TEL;TYPE=\" cell\":1") << 2;
        QTest::newRow("empty list items") << QByteArray("TEL;TYPE=,,home,:1") << 1;
        QTest::newRow("x- prefix") << QByteArray("TEL;TYPE=X-CELL:1") << 2;
        QTest::newRow("prefix removed once") << QByteArray("TEL;TYPE=x-x-cell:1") << 0;
        QTest::newRow("Evolution prefix, bare") << QByteArray("TEL;X-EVOLUTION-TTYTDD:1") << 16;
        QTest::newRow("longest word") << QByteArray("TEL;TYPE=x-evolution-textphone:1") << 16;
        QTest::newRow("longer than any word") << QByteArray("TEL;TYPE=x-evolution-textphones,home:1") << 1;
        QTest::newRow("prefix alone") << QByteArray("TEL;TYPE=x-,x-evolution-:1") << 0;
        QTest::newRow("Kelvin sign") << QByteArray("TEL;TYPE=WOR\xE2\x84\xAA:1") << 3;
        QTest::newRow("Kelvin sign in a list") << QByteArray("TEL;TYPE=\xC3\xA9t\xC3\xA9,WOR\xE2\x84\xAA,fax:1") << 4;
        QTest::newRow("letter outside ASCII") << QByteArray("TEL;TYPE=c\xC3\xA9ll:1") << 0;
        QTest::newRow("value parameter is no word") << QByteArray("TEL;X-KIND=cell:1") << 0;
        QTest::newRow("TYPE in any case") << QByteArray("TEL;tYpE=pager:1") << 6;
    }

    // The kind is the best code for the whole set of words, in any case and any of the ways to write them.
    void phoneKinds()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, code);
        const Contact c = one(card(line));
        QCOMPARE(rows(c, ENTITY_PHONE), QStringList{QString::number(code) + u"||1"_s});
    }

    // Apple's and Google's grouped labels: tokens name kinds, other text is the row's own label; a tel: URI
    // gives the number alone; e-mail, address and URL kinds are read in the same ways.
    void labelsAndOtherKinds()
    {
        const Contact c = one(card("item1.TEL:555\r\n"
                                   "item1.X-ABLabel:_$!<Mobile>!$_\r\n"
                                   "item2.X-ABLabel:Summer house\r\n"
                                   "ITEM2.TEL;type=HOME:556\r\n"
                                   "TEL;VALUE=uri;TYPE=cell:tel:+1-555-0100\r\n"
                                   "EMAIL;type=INTERNET;type=WORK:w@x\r\n"
                                   "EMAIL;INTERNET:h@x\r\n"
                                   "item3.EMAIL:o@x\r\nitem3.X-ABLabel:_$!<Other>!$_\r\n"
                                   "ADR;TYPE=WORK,POSTAL:;;1 Main St;Town;;1;\r\n"
                                   "item4.URL:http\\://b.example\r\nitem4.X-ABLabel:_$!<HomePage>!$_\r\n"
                                   "URL;TYPE=WORK:http://w.example"));
        QCOMPARE(rows(c, ENTITY_PHONE), QStringList({u"2||555"_s, u"1|Summer house|556"_s, u"2||+1-555-0100"_s}));
        QCOMPARE(rows(c, ENTITY_EMAIL), QStringList({u"2||w@x"_s, u"0||h@x"_s, u"0||o@x"_s}));
        QCOMPARE(rows(c, ENTITY_ADDRESS, u"data4"_s), QStringList{u"2||1 Main St"_s});
        QCOMPARE(rows(c, ENTITY_WEBSITE), QStringList({u"1||http://b.example"_s, u"5||http://w.example"_s}));

        // The same words decide e-mail, address and URL kinds in every spelling.
        const Contact spelled = one(card("EMAIL;TYPE=\"internet, Home\":h@x\r\n"
                                         "EMAIL;TYPE=internet:own@x\r\n"
                                         "EMAIL;TYPE=INTERNET:other@x\r\n"
                                         "EMAIL;TYPE=X-MOBILE:m@x\r\n"
                                         "ADR;WORK:;;2 Main St;Town;;1;\r\n"
                                         "ADR;TYPE=x-evolution-home:;;3 Main St;Town;;1;\r\n"
                                         "URL;TYPE=home-page:http://h.example\r\n"
                                         "URL;TYPE=work,blog:http://b.example\r\n"
                                         "URL;TYPE=FTP:ftp://f.example\r\n"
                                         "URL;TYPE=PROFILE,HOME:http://p.example"));
        QCOMPARE(rows(spelled, ENTITY_EMAIL), QStringList({u"1||h@x"_s, u"1||own@x"_s, u"0||other@x"_s, u"4||m@x"_s}));
        QCOMPARE(rows(spelled, ENTITY_ADDRESS, u"data4"_s), QStringList({u"2||2 Main St"_s, u"1||3 Main St"_s}));
        QCOMPARE(rows(spelled, ENTITY_WEBSITE), QStringList({u"1||http://h.example"_s, u"2||http://b.example"_s,
                                                             u"6||ftp://f.example"_s, u"3||http://p.example"_s}));
    }

    // Apple's label tokens in a file are read in any case, with the desktop address book's tokens the phone
    // lacks; an unknown token keeps its word as the label. The iPhone link's own lookup stays exact.
    void appleTokens()
    {
        const Contact c = one(card("item1.TEL:1\r\nitem1.X-ABLabel:_$!<workfax>!$_\r\n"
                                   "item2.TEL:2\r\nitem2.X-ABLabel:_$!<AssistantPhone>!$_\r\n"
                                   "item3.TEL:3\r\nitem3.X-ABLabel:_$!<School>!$_\r\n"
                                   "item4.TEL:4\r\nitem4.X-ABLabel:_$!<MAIN>!$_\r\n"
                                   "item5.EMAIL:e@x\r\nitem5.X-ABLabel:_$!<WORK>!$_\r\n"
                                   "item6.X-ABRELATEDNAMES:Ann\r\nitem6.X-ABLabel:_$!<sister>!$_\r\n"
                                   "item7.ADR:;;1 Main St;Town;;;\r\nitem7.X-ABLabel:_$!<Home>!$_"));
        QCOMPARE(rows(c, ENTITY_PHONE), QStringList({u"4||1"_s, u"19||2"_s, u"0|School|3"_s, u"12||4"_s}));
        QCOMPARE(rows(c, ENTITY_EMAIL), QStringList{u"2||e@x"_s});
        QCOMPARE(rows(c, ENTITY_RELATION), QStringList{u"13||Ann"_s});
        QCOMPARE(rows(c, ENTITY_ADDRESS, u"data4"_s), QStringList{u"1||1 Main St"_s});

        QCOMPARE(ioslabels::codeOfLabel(ENTITY_PHONE, u"_$!<WorkFAX>!$_"_s), 4);
        QCOMPARE(ioslabels::codeOfLabel(ENTITY_PHONE, u"_$!<workfax>!$_"_s), -1);
        QCOMPARE(ioslabels::codeOfLabel(ENTITY_PHONE, u"_$!<AssistantPhone>!$_"_s), -1);
        QCOMPARE(ioslabels::labelOfCode(ENTITY_PHONE, 19), u"_$!<Work>!$_"_s);
    }

    // IMPP with and without Apple's service parameter, the X- properties, and the same account written both
    // ways (as Apple does) kept once.
    void instantMessaging()
    {
        const Contact c = one(card("IMPP;X-SERVICE-TYPE=Skype;type=HOME:skype:jo.doe\r\n"
                                   "X-SKYPE-USERNAME:jo.doe\r\n"
                                   "IMPP:xmpp:jo@jabber.example\r\n"
                                   "IMPP:aim:goim?screenname=joaim\r\n"
                                   "X-ICQ;TYPE=WORK:12345\r\n"
                                   "X-MSN:jo@msn\r\nX-YAHOO:joy\r\nX-GOOGLE-TALK:jo@gmail\r\nX-QQ:777\r\n"
                                   "IMPP:sip:jo@sip.example"));
        QStringList got;
        for (const DataRow &row : c.entities.value(ENTITY_IM))
            got << label(LabelFamily::ImProtocol, row) + u':' + row.text(u"data1"_s);
        QCOMPARE(got, QStringList({u"Skype:jo.doe"_s, u"Jabber:jo@jabber.example"_s, u"AIM:joaim"_s, u"ICQ:12345"_s,
                                   u"MSN:jo@msn"_s, u"Yahoo:joy"_s, u"Google Talk:jo@gmail"_s, u"QQ:777"_s,
                                   u"sip:jo@sip.example"_s}));
        QCOMPARE(c.entities.value(ENTITY_IM).at(3).text(u"data2"_s), u"2"_s); // the ICQ account is Work
    }

    // Birthdays and anniversaries in every form, with a year or without, stored as the devices keep them.
    void dates()
    {
        const Contact c = one(card("BDAY;X-APPLE-OMIT-YEAR=1604:1604-03-15\r\n"
                                   "BDAY:19800229\r\n"
                                   "BDAY:--0704\r\n"
                                   "BDAY;VALUE=date-time:1953-10-15T23:10:00Z\r\n"
                                   "ANNIVERSARY:2001-05-06\r\n"
                                   "X-MS-ANNIVERSARY:2002-05-06\r\n"
                                   "X-EVOLUTION-ANNIVERSARY:2003-05-06\r\n"
                                   "X-ANNIVERSARY:2004-05-06\r\n"
                                   "item1.X-ABDATE:2005-05-06\r\nitem1.X-ABLabel:_$!<Anniversary>!$_\r\n"
                                   "item2.X-ABDATE;type=pref:2006-05-06\r\nitem2.X-ABLabel:Graduation\r\n"
                                   "BDAY:sometime in May\r\nBDAY:"));
        QCOMPARE(rows(c, ENTITY_EVENT),
                 QStringList({u"3||--03-15"_s, u"3||1980-02-29"_s, u"3||--07-04"_s, u"3||1953-10-15"_s,
                              u"1||2001-05-06"_s, u"1||2002-05-06"_s, u"1||2003-05-06"_s, u"1||2004-05-06"_s,
                              u"1||2005-05-06"_s, u"0|Graduation|2006-05-06"_s, u"3||sometime in May"_s}));

        // Dates of the plain extended form that are no valid day, or have a short year, are kept as written or
        // read as the longer forms are.
        const Contact odd = one(card("BDAY: 1981-02-29 \r\n"
                                     "BDAY:2000-02-29\r\n"
                                     "BDAY:1980-13-01\r\n"
                                     "BDAY:0099-01-02\r\n"
                                     "BDAY:1980-0a-01\r\n"
                                     "BDAY;X-APPLE-OMIT-YEAR=1604:2000-12-31\r\n"
                                     "BDAY:1980-01-01T10:00"));
        QCOMPARE(rows(odd, ENTITY_EVENT),
                 QStringList({u"3||1981-02-29"_s, u"3||2000-02-29"_s, u"3||1980-13-01"_s, u"3||0099-01-02"_s,
                              u"3||1980-0a-01"_s, u"3||--12-31"_s, u"3||1980-01-01"_s}));
    }

    // FN is the display name (CJK names keep their order); a card without N or FN is named by its company,
    // e-mail or number; groups split per value; PO box and extended address beside the street.
    void namesGroupsAddresses()
    {
        const Contact japanese = one("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:山田 太郎\r\nN:山田;太郎;;;\r\nEND:VCARD\r\n");
        QCOMPARE(japanese.full_name, u"山田 太郎"_s);
        QCOMPARE(japanese.firstRow(ENTITY_NAME).text(u"data3"_s), u"山田"_s);
        const Contact noFn = one("BEGIN:VCARD\r\nVERSION:3.0\r\nN:山田;太郎;;;\r\nEND:VCARD\r\n");
        QCOMPARE(noFn.full_name, u"山田 太郎"_s);
        const Contact western = one("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Dr. Jo Doe\r\nN:Doe;Jo;;Dr.;\r\nEND:VCARD\r\n");
        QCOMPARE(western.full_name, u"Dr. Jo Doe"_s);

        const QList<Contact> nameless =
            vcard::contactsFromBytes("BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Acme Ltd;Sales\r\nTEL:1\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nTEL:2\r\nEMAIL:a@b\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nTEL:3\r\nEND:VCARD\r\n"
                                     "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:nothing to name it by\r\nEND:VCARD\r\n");
        QCOMPARE(nameless.size(), 4);
        QCOMPARE(nameless.at(0).full_name, u"Acme Ltd"_s);
        QCOMPARE(nameless.at(1).full_name, u"a@b"_s);
        QCOMPARE(nameless.at(2).full_name, u"3"_s);
        QVERIFY(nameless.at(3).full_name.isEmpty());

        const Contact c = one(card("CATEGORIES:Friends,Work\\, Team,friends\r\nCATEGORIES:Golf\r\n"
                                   "ADR;TYPE=home:PO Box 12;Apt 5;1 Main St;Town;ST;12345;Land"));
        QStringList groups;
        for (const DataRow &row : c.entities.value(ENTITY_GROUP))
            groups << row.text(u"data2"_s);
        QCOMPARE(groups, QStringList({u"Friends"_s, u"Work, Team"_s, u"friends"_s, u"Golf"_s}));
        const DataRow address = c.firstRow(ENTITY_ADDRESS);
        QCOMPARE(address.text(u"data5"_s), u"PO Box 12"_s);
        QCOMPARE(address.text(u"data6"_s), u"Apt 5"_s);
        QCOMPARE(address.text(u"data4"_s), u"1 Main St"_s);
        QCOMPARE(address.text(u"data2"_s), u"1"_s);
    }

    // A LABEL is an address only where the card gives none of its kind in parts: Evolution writes both, some
    // writers only the label.
    void formattedAddressLabels()
    {
        const Contact c = one(card("LABEL;QUOTED-PRINTABLE;WORK:401 Park Drive=0ABoston, MA 02215\r\n"
                                   "ADR;TYPE=HOME:;;1 Main St;Town;;1;\r\n"
                                   "LABEL;TYPE=HOME:1 Main St\\nTown 1"));
        QCOMPARE(rows(c, ENTITY_ADDRESS, u"data4"_s),
                 QStringList({u"1||1 Main St"_s, u"2||401 Park Drive\nBoston, MA 02215"_s}));
        QCOMPARE(c.entities.value(ENTITY_ADDRESS).at(1).text(u"data1"_s), u"401 Park Drive\nBoston, MA 02215"_s);
    }

    // A card with a company and no part of a person's name is a company contact (an empty name row, the
    // company shown), whether it has no N, an empty N or an FN equal to the company; an FN naming someone else
    // keeps the card that person's. Written back with FN, an empty N and ORG, it reads as the same company.
    void companyCards()
    {
        const QList<Contact> cards = vcard::contactsFromBytes(
            "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:Acme Ltd;Sales\r\nTEL;TYPE=WORK:1\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:acme ltd\r\nORG:Acme "
            "Ltd;\r\nX-ABShowAs:COMPANY\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Jo Bloggs\r\nORG:Acme Ltd\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bloggs;Jo;;;\r\nORG:Acme Ltd\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nTITLE:Boss\r\nEMAIL:a@b\r\nEND:VCARD\r\n");
        QCOMPARE(cards.size(), 5);
        for (int i : {0, 1}) {
            const Contact &c = cards.at(i);
            QCOMPARE(c.full_name, u"Acme Ltd"_s);
            QVERIFY(isCompanyContact(c));
            QVERIFY(c.hasRows(ENTITY_NAME));
            QVERIFY(!hasPersonName(c.firstRow(ENTITY_NAME)));
            QCOMPARE(c.firstRow(ENTITY_ORGANIZATION).text(u"data1"_s), u"Acme Ltd"_s);
        }
        QCOMPARE(cards.at(0).firstRow(ENTITY_ORGANIZATION).text(u"data5"_s), u"Sales"_s);
        QCOMPARE(cards.at(2).full_name, u"Jo Bloggs"_s);
        QCOMPARE(cards.at(2).firstRow(ENTITY_NAME).text(u"data2"_s), u"Jo Bloggs"_s);
        QVERIFY(!isCompanyContact(cards.at(2)));
        QCOMPARE(cards.at(3).full_name, u"Jo Bloggs"_s);
        QVERIFY(!isCompanyContact(cards.at(3)));
        QCOMPARE(cards.at(4).full_name, u"a@b"_s); // a job title is no company

        const QByteArray written = vcard::bytesFromContacts({cards.at(0)});
        QVERIFY2(written.contains("\r\nFN;CHARSET=UTF-8:Acme Ltd\r\n"), written.constData());
        QVERIFY2(written.contains("\r\nN;CHARSET=UTF-8:;;;;\r\n"), written.constData());
        QVERIFY2(written.contains("\r\nORG;CHARSET=UTF-8:Acme Ltd;Sales\r\n"), written.constData());
        QVERIFY2(written.contains("\r\nX-ABShowAs:COMPANY\r\n"), written.constData());
        const Contact back = one(written);
        QCOMPARE(back.full_name, u"Acme Ltd"_s);
        QVERIFY(isCompanyContact(back));

        // A company contact made elsewhere without a name row still writes the N that 3.0 requires.
        Contact bare;
        bare.full_name = u"Bare Inc"_s;
        DataRow org;
        org.setValue(u"data1"_s, u"Bare Inc"_s);
        bare.addRow(ENTITY_ORGANIZATION, org);
        QVERIFY(vcard::bytesFromContacts({bare}).contains("\r\nN:;;;;\r\n"));
        QVERIFY(isCompanyContact(one(vcard::bytesFromContacts({bare}))));
    }

    // What the exporter writes: 3.0 without quoted-printable, text escaped, a TYPE for every kind, labels as
    // grouped X-ABLabel, IMPP with the X- form, ANNIVERSARY; and all of it reads back unchanged.
    void exportReadsBack()
    {
        Contact c;
        c.full_name = u"Jo Doe"_s;
        const auto add = [&c](int type, std::initializer_list<std::pair<int, QVariant>> columns) {
            DataRow row;
            for (const auto &[n, v] : columns)
                row.setValue(u"data%1"_s.arg(n), v);
            c.addRow(type, row);
        };
        add(ENTITY_NAME, {{1, u"Jo Doe"_s}, {2, u"Jo"_s}, {3, u"Doe"_s}});
        for (int code : {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20})
            add(ENTITY_PHONE, {{1, QString::number(100 + code)}, {2, code}});
        add(ENTITY_PHONE, {{1, u"200"_s}, {2, 0}, {3, u"Boat"_s}});
        for (int code : {0, 1, 2, 4})
            add(ENTITY_EMAIL, {{1, u"e%1@x"_s.arg(code)}, {2, code}});
        add(ENTITY_EVENT, {{1, u"1950-01-10"_s}, {2, 3}});
        add(ENTITY_EVENT, {{1, u"--02-29"_s}, {2, 1}});
        add(ENTITY_EVENT, {{1, u"2000-01-01"_s}, {2, 0}, {3, u"Graduation"_s}});
        add(ENTITY_GROUP, {{2, u"Friends, old"_s}});
        add(ENTITY_GROUP, {{2, u"Golf"_s}});
        add(ENTITY_IM, {{1, u"jo.doe"_s}, {2, 2}, {5, 4}});
        add(ENTITY_IM, {{1, u"jo@sip"_s}, {2, 1}, {5, 0}, {6, u"SIP"_s}});
        add(ENTITY_NOTE, {{1, u"a;b,c\\d\nsecond line"_s}});
        add(ENTITY_ORGANIZATION, {{1, u"Acme; Sons"_s}, {4, u"Boss"_s}, {5, u"Sales"_s}});
        add(ENTITY_ADDRESS, {{2, 1},
                             {4, u"1 Main St\nBack door"_s},
                             {5, u"PO Box 1"_s},
                             {6, u"Apt 2"_s},
                             {7, u"Town"_s},
                             {9, u"12345"_s}});
        add(ENTITY_ADDRESS, {{2, 0}, {3, u"Cabin"_s}, {4, u"Lake Rd"_s}});
        for (int code : {0, 1, 2, 3, 4, 5, 6})
            add(ENTITY_WEBSITE, {{1, u"http://w%1.example"_s.arg(code)}, {2, code}});

        const QByteArray bytes = vcard::bytesFromContacts({c});
        QVERIFY(!bytes.contains("QUOTED-PRINTABLE"));
        QVERIFY(bytes.contains("NOTE;CHARSET=UTF-8:a\\;b\\,c\\\\d\\nsecond line\r\n"));
        QVERIFY(bytes.contains("TEL;TYPE=WORK,FAX:104\r\n"));
        QVERIFY(bytes.contains(".X-ABLabel;CHARSET=UTF-8:Boat\r\n"));
        QVERIFY(bytes.contains("IMPP;TYPE=WORK;X-SERVICE-TYPE=Skype:skype:jo.doe\r\n"));
        QVERIFY(bytes.contains("X-SKYPE;TYPE=WORK:jo.doe\r\n"));
        QVERIFY(bytes.contains("ANNIVERSARY;X-APPLE-OMIT-YEAR=1604:1604-02-29\r\n"));
        QVERIFY(bytes.contains("CATEGORIES;CHARSET=UTF-8:Friends\\, old,Golf\r\n"));
        QVERIFY(bytes.contains("ADR;CHARSET=UTF-8;TYPE=HOME:PO Box 1;Apt 2;1 Main St\\nBack door;Town;;12345;\r\n"));

        const Contact back = one(bytes);
        QCOMPARE(back.full_name, c.full_name);
        for (int type : {ENTITY_PHONE, ENTITY_EMAIL, ENTITY_EVENT, ENTITY_RELATION, ENTITY_WEBSITE})
            QCOMPARE(rows(back, type), rows(c, type));
        QCOMPARE(rows(back, ENTITY_ADDRESS, u"data4"_s), rows(c, ENTITY_ADDRESS, u"data4"_s));
        QCOMPARE(back.entities.value(ENTITY_GROUP).size(), 2);
        QCOMPARE(back.entities.value(ENTITY_GROUP).at(0).text(u"data2"_s), u"Friends, old"_s);
        for (int n : {1, 2, 5, 6})
            QCOMPARE(rows(back, ENTITY_IM, u"data%1"_s.arg(n)), rows(c, ENTITY_IM, u"data%1"_s.arg(n)));
        QCOMPARE(back.firstRow(ENTITY_NOTE).text(u"data1"_s), c.firstRow(ENTITY_NOTE).text(u"data1"_s));
        for (int n : {1, 4, 5})
            QCOMPARE(back.firstRow(ENTITY_ORGANIZATION).text(u"data%1"_s.arg(n)),
                     c.firstRow(ENTITY_ORGANIZATION).text(u"data%1"_s.arg(n)));
        for (int n : {4, 5, 6, 7, 9})
            QCOMPARE(back.firstRow(ENTITY_ADDRESS).text(u"data%1"_s.arg(n)),
                     c.firstRow(ENTITY_ADDRESS).text(u"data%1"_s.arg(n)));
    }

    // Bad lines are counted, and the importer says how many; a BOM-less file of only junk yields nothing.
    void skippedLinesCounted()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"x.vcf"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;Jo\r\nno colon here\r\nTEL:1\r\nalso none\r\nEND:VCARD\r\n");
        file.close();
        VCardImport importer;
        importer.open(path);
        QCOMPARE(importer.count(), 1);
        QCOMPARE(importer.skippedLines(), 2);
    }
};

QTEST_GUILESS_MAIN(TestVCardKinds)
#include "tst_vcardkinds.moc"
