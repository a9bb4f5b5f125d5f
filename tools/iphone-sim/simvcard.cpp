#include "simvcard.h"

#include "simstore.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTimeZone>

using namespace simplist;

namespace {

struct Property
{
    QString name;        // upper case, without group
    QSet<QString> types; // upper case TYPE values and bare 2.1 parameters
    QByteArray rawValue;
    bool quotedPrintable = false;
    bool base64 = false;
};

QByteArray decodeQuotedPrintable(const QByteArray &in)
{
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int v = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(v));
                i += 2;
                continue;
            }
        }
        out.append(in[i]);
    }
    return out;
}

// Splits on unescaped separators and resolves the text escapes \n \N \, \; \: \\.
QStringList components(const QString &value, QChar separator)
{
    QStringList parts{QString()};
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar n = value[++i];
            parts.last() += (n == QLatin1Char('n') || n == QLatin1Char('N')) ? QChar(QLatin1Char('\n')) : n;
        } else if (c == separator) {
            parts << QString();
        } else {
            parts.last() += c;
        }
    }
    return parts;
}

QString text(const Property &p)
{
    const QByteArray bytes = p.quotedPrintable ? decodeQuotedPrintable(p.rawValue) : p.rawValue;
    return components(QString::fromUtf8(bytes), QChar()).value(0);
}

QStringList parts(const Property &p)
{
    const QByteArray bytes = p.quotedPrintable ? decodeQuotedPrintable(p.rawValue) : p.rawValue;
    return components(QString::fromUtf8(bytes), QLatin1Char(';'));
}

// A date as the phone stores it: the day's midnight in UTC; a date without a year ("--MM-DD", "--MMDD") in
// year 1604, as iOS keeps it.
plist_t dateNode(const QString &value)
{
    QDate d;
    if (value.startsWith(QLatin1String("--"))) {
        const QString md = QString(value.mid(2)).remove(QLatin1Char('-'));
        if (md.size() >= 4)
            d = QDate(1604, md.left(2).toInt(), md.mid(2, 2).toInt());
    } else {
        d = QDate::fromString(value.left(10), Qt::ISODate);
        if (!d.isValid())
            d = QDate::fromString(value.left(8), QStringLiteral("yyyyMMdd"));
    }
    if (!d.isValid())
        return nullptr;
    return simplist::newDate(QDateTime(d, QTime(0, 0), QTimeZone::utc()));
}

Plist record(const char *kind)
{
    Plist r = Plist::dict();
    plist_dict_set_item(r.get(), simrecords::kEntityNameKey, plist_new_string(kind));
    return r;
}

void set(Plist &r, const char *key, const QString &value)
{
    if (!value.isEmpty())
        plist_dict_set_item(r.get(), key, str(value));
}

QString typeOf(const QSet<QString> &types, const QString &fallback)
{
    if (types.contains(QStringLiteral("HOME")))
        return QStringLiteral("home");
    if (types.contains(QStringLiteral("WORK")))
        return QStringLiteral("work");
    return fallback;
}

QString phoneType(const QSet<QString> &t)
{
    if (t.contains(QStringLiteral("CELL")) || t.contains(QStringLiteral("MOBILE")) ||
        t.contains(QStringLiteral("IPHONE")))
        return QStringLiteral("mobile");
    if (t.contains(QStringLiteral("FAX")))
        return t.contains(QStringLiteral("HOME")) ? QStringLiteral("home fax") : QStringLiteral("work fax");
    if (t.contains(QStringLiteral("PAGER")))
        return QStringLiteral("pager");
    if (t.contains(QStringLiteral("MAIN")))
        return QStringLiteral("main");
    return typeOf(t, QStringLiteral("other"));
}

Plist imRecord(const QString &service, const QString &user, const QSet<QString> &types)
{
    Plist r = record("com.apple.contacts.IM");
    set(r, "user", user);
    set(r, "service", service);
    set(r, "type", typeOf(types, QStringLiteral("other")));
    return r;
}

Property parseLine(const QByteArray &line)
{
    Property p;
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return p;
    const QList<QByteArray> head = line.left(colon).split(';');
    QByteArray name = head.first().toUpper();
    if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0)
        name = name.mid(dot + 1);
    p.name = QString::fromLatin1(name);
    p.rawValue = line.mid(colon + 1);
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray param = head[i].toUpper();
        const qsizetype eq = param.indexOf('=');
        const QByteArray key = eq < 0 ? QByteArray("TYPE") : param.left(eq);
        const QByteArray value = eq < 0 ? param : param.mid(eq + 1);
        if (key == "ENCODING" || value == "QUOTED-PRINTABLE" || value == "BASE64" || value == "B") {
            p.quotedPrintable = p.quotedPrintable || value == "QUOTED-PRINTABLE";
            p.base64 = p.base64 || value == "BASE64" || value == "B";
        } else if (key == "TYPE") {
            for (const QByteArray &t : value.split(','))
                p.types.insert(QString::fromLatin1(t).remove(QLatin1Char('"')));
        }
    }
    return p;
}

// Joins folded lines: a line break followed by a space or tab continues the line, and a quoted-printable soft
// break ("=" at the end) does as well.
QList<QByteArray> unfold(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    QByteArray normalized = bytes;
    normalized.replace("\r\n", "\n");
    for (const QByteArray &raw : normalized.split('\n')) {
        if (!lines.isEmpty() && (raw.startsWith(' ') || raw.startsWith('\t'))) {
            lines.last() += raw.mid(1);
        } else if (!lines.isEmpty() && lines.last().endsWith('=') &&
                   lines.last().toUpper().contains("QUOTED-PRINTABLE")) {
            lines.last().chop(1);
            lines.last() += raw;
        } else {
            lines << raw;
        }
    }
    return lines;
}

} // namespace

namespace simvcard {

QList<SimVCardContact> read(const QByteArray &bytes)
{
    static const QHash<QString, QString> imProperties = {
        {QStringLiteral("X-AIM"), QStringLiteral("aim")},
        {QStringLiteral("X-MSN"), QStringLiteral("msn")},
        {QStringLiteral("X-YAHOO"), QStringLiteral("yahoo")},
        {QStringLiteral("X-SKYPE"), QStringLiteral("skype")},
        {QStringLiteral("X-QQ"), QStringLiteral("qq")},
        {QStringLiteral("X-GOOGLE-TALK"), QStringLiteral("googletalk")},
        {QStringLiteral("X-ICQ"), QStringLiteral("icq")},
        {QStringLiteral("X-JABBER"), QStringLiteral("jabber")},
    };
    static const QHash<QString, QString> imSchemes = {
        {QStringLiteral("aim"), QStringLiteral("aim")},
        {QStringLiteral("msnim"), QStringLiteral("msn")},
        {QStringLiteral("ymsgr"), QStringLiteral("yahoo")},
        {QStringLiteral("skype"), QStringLiteral("skype")},
        {QStringLiteral("qq"), QStringLiteral("qq")},
        {QStringLiteral("gtalk"), QStringLiteral("googletalk")},
        {QStringLiteral("icq"), QStringLiteral("icq")},
        {QStringLiteral("xmpp"), QStringLiteral("jabber")},
        {QStringLiteral("facebook"), QStringLiteral("facebook")},
    };

    QList<SimVCardContact> cards;
    SimVCardContact *card = nullptr;
    QString formattedName;
    bool hasName = false;
    for (const QByteArray &line : unfold(bytes)) {
        const Property p = parseLine(line.trimmed());
        if (p.name == QLatin1String("BEGIN") && p.rawValue.trimmed().toUpper() == "VCARD") {
            cards.append({record(simrecords::kContact), {}});
            card = &cards.last();
            formattedName.clear();
            hasName = false;
            continue;
        }
        if (!card)
            continue;
        Plist &c = card->contact;
        if (p.name == QLatin1String("END")) {
            if (!hasName && !formattedName.isEmpty())
                set(c, "first name", formattedName);
            card = nullptr;
        } else if (p.name == QLatin1String("N")) {
            const QStringList n = parts(p);
            set(c, "last name", n.value(0));
            set(c, "first name", n.value(1));
            set(c, "middle name", n.value(2));
            set(c, "title", n.value(3));
            set(c, "suffix", n.value(4));
            hasName = !n.join(QString()).isEmpty();
        } else if (p.name == QLatin1String("FN")) {
            formattedName = text(p);
        } else if (p.name == QLatin1String("NICKNAME")) {
            set(c, "nickname", text(p));
        } else if (p.name == QLatin1String("ORG")) {
            const QStringList o = parts(p);
            set(c, "company name", o.value(0));
            set(c, "department", o.value(1));
        } else if (p.name == QLatin1String("TITLE")) {
            set(c, "job title", text(p));
        } else if (p.name == QLatin1String("NOTE")) {
            set(c, "notes", text(p));
        } else if (p.name == QLatin1String("BDAY")) {
            if (plist_t d = dateNode(text(p)))
                plist_dict_set_item(c.get(), "birthday", d);
        } else if (p.name == QLatin1String("PHOTO") && p.base64) {
            plist_dict_set_item(c.get(), "image", data(QByteArray::fromBase64(p.rawValue)));
        } else if (p.name == QLatin1String("TEL")) {
            Plist r = record("com.apple.contacts.Phone Number");
            set(r, "value", text(p));
            set(r, "type", phoneType(p.types));
            card->others << r;
        } else if (p.name == QLatin1String("EMAIL")) {
            Plist r = record("com.apple.contacts.Email Address");
            set(r, "value", text(p));
            set(r, "type", typeOf(p.types, QStringLiteral("other")));
            card->others << r;
        } else if (p.name == QLatin1String("ADR")) {
            const QStringList a = parts(p);
            Plist r = record("com.apple.contacts.Street Address");
            QStringList street;
            for (int i : {1, 2})
                if (!a.value(i).isEmpty())
                    street << a.value(i);
            set(r, "street", street.join(QLatin1Char('\n')));
            set(r, "city", a.value(3));
            set(r, "state", a.value(4));
            set(r, "postal code", a.value(5));
            set(r, "country", a.value(6));
            set(r, "type", typeOf(p.types, QStringLiteral("other")));
            card->others << r;
        } else if (p.name == QLatin1String("URL")) {
            Plist r = record("com.apple.contacts.URL");
            set(r, "value", text(p));
            set(r, "type", typeOf(p.types, QStringLiteral("home page")));
            card->others << r;
        } else if (p.name == QLatin1String("IMPP")) {
            const QString v = text(p);
            const qsizetype colon = v.indexOf(QLatin1Char(':'));
            if (colon > 0)
                card->others << imRecord(imSchemes.value(v.left(colon).toLower()), v.mid(colon + 1), p.types);
        } else if (imProperties.contains(p.name)) {
            card->others << imRecord(imProperties.value(p.name), text(p), p.types);
        } else if (p.name == QLatin1String("ANNIVERSARY") || p.name == QLatin1String("X-ANNIVERSARY")) {
            if (plist_t d = dateNode(text(p))) {
                Plist r = record("com.apple.contacts.Date");
                plist_dict_set_item(r.get(), "value", d);
                set(r, "type", QStringLiteral("anniversary"));
                card->others << r;
            }
        }
    }
    return cards;
}

} // namespace simvcard
