#include "vcardreader.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

struct Line
{
    QString group;
    QString name;                   // upper case
    QStringList types;              // upper case, from TYPE=a,b and bare 2.1 parameters
    QHash<QString, QString> params; // upper-case name → value
    QByteArray value;
};

QByteArray decodeQuotedPrintable(const QByteArray &in)
{
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size()) {
            bool ok = false;
            const int byte = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out.append(char(byte));
                i += 2;
                continue;
            }
        }
        out.append(in[i]);
    }
    return out;
}

// Splits at unescaped separators and resolves \n, \, \; \: and \\ in each part.
QStringList splitEscaped(const QString &text, QChar separator)
{
    QStringList parts;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            const QChar next = text[++i];
            current += (next == u'n' || next == u'N') ? QChar(u'\n') : next;
        } else if (c == separator) {
            parts << current;
            current.clear();
        } else {
            current += c;
        }
    }
    parts << current;
    return parts;
}

QString unescape(const QString &text)
{
    return splitEscaped(text, QChar(0)).join(QString());
}

// Physical lines joined into logical ones: a line starting with a space or tab continues the previous one
// (the fold is removed), and a quoted-printable line ending in "=" continues on the next.
QList<QByteArray> logicalLines(const QByteArray &data)
{
    QList<QByteArray> lines;
    QByteArray text = data;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    bool softBreak = false;
    for (const QByteArray &raw : text.split('\n')) {
        if (!lines.isEmpty() && (softBreak || raw.startsWith(' ') || raw.startsWith('\t'))) {
            lines.last().append(softBreak ? raw : raw.mid(1));
        } else {
            lines.append(raw);
        }
        const QByteArray &last = lines.last();
        softBreak = last.endsWith('=') && last.toUpper().contains("QUOTED-PRINTABLE");
        if (softBreak)
            lines.last().chop(1);
    }
    return lines;
}

bool parseLine(const QByteArray &raw, Line &line)
{
    const qsizetype colon = raw.indexOf(':');
    if (colon <= 0)
        return false;
    const QString head = QString::fromUtf8(raw.left(colon));
    line.value = raw.mid(colon + 1);
    QStringList parts = head.split(u';');
    QString name = parts.takeFirst().toUpper();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot >= 0) {
        line.group = name.left(dot);
        name = name.mid(dot + 1);
    }
    line.name = name;
    for (const QString &param : std::as_const(parts)) {
        const qsizetype eq = param.indexOf(u'=');
        if (eq < 0) {
            line.types << param.toUpper();
            continue;
        }
        const QString key = param.left(eq).toUpper();
        QString value = param.mid(eq + 1);
        if (value.startsWith(u'"') && value.endsWith(u'"') && value.size() >= 2)
            value = value.mid(1, value.size() - 2);
        if (key == u"TYPE") {
            for (const QString &t : value.split(u','))
                line.types << t.toUpper();
        } else {
            line.params.insert(key, value);
        }
    }
    const QString encoding = line.params.value(u"ENCODING"_s).toUpper();
    if (encoding == u"QUOTED-PRINTABLE" || line.types.contains(u"QUOTED-PRINTABLE"_s))
        line.value = decodeQuotedPrintable(line.value);
    return true;
}

QString systemLabel(const char *name)
{
    return u"_$!<"_s + QLatin1String(name) + u">!$_"_s;
}

QString phoneLabel(const QStringList &types)
{
    const bool fax = types.contains(u"FAX"_s);
    if (types.contains(u"IPHONE"_s))
        return systemLabel("iPhone");
    if (types.contains(u"CELL"_s))
        return systemLabel("Mobile");
    if (fax && types.contains(u"HOME"_s))
        return systemLabel("HomeFAX");
    if (fax && types.contains(u"WORK"_s))
        return systemLabel("WorkFAX");
    if (fax)
        return systemLabel("OtherFAX");
    if (types.contains(u"PAGER"_s))
        return systemLabel("Pager");
    if (types.contains(u"MAIN"_s))
        return systemLabel("Main");
    if (types.contains(u"WORK"_s))
        return systemLabel("Work");
    if (types.contains(u"HOME"_s))
        return systemLabel("Home");
    if (types.contains(u"OTHER"_s))
        return systemLabel("Other");
    return QString(); // iOS leaves many values without a label
}

QString placeLabel(const QStringList &types)
{
    if (types.contains(u"HOME"_s))
        return systemLabel("Home");
    if (types.contains(u"WORK"_s))
        return systemLabel("Work");
    if (types.contains(u"OTHER"_s))
        return systemLabel("Other");
    return QString();
}

// "1980-02-29", "19800229", "--0229" (no year: iOS keeps year 1604), with any time part ignored.
QDate parseDate(QString text)
{
    text = text.trimmed();
    const qsizetype t = text.indexOf(u'T');
    if (t >= 0)
        text = text.left(t);
    if (text.startsWith(u"--"_s)) {
        text = text.mid(2).remove(u'-');
        return QDate(1604, text.left(2).toInt(), text.mid(2, 2).toInt());
    }
    text.remove(u'-');
    return QDate(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
}

// IM services as the address book names them, by vCard property or IMPP scheme.
QString imService(const QString &key)
{
    static const QHash<QString, QString> services = {
        {u"X-AIM"_s, u"AIM"_s},
        {u"AIM"_s, u"AIM"_s},
        {u"X-MSN"_s, u"MSN"_s},
        {u"MSNIM"_s, u"MSN"_s},
        {u"X-YAHOO"_s, u"Yahoo"_s},
        {u"YMSGR"_s, u"Yahoo"_s},
        {u"X-SKYPE"_s, u"Skype"_s},
        {u"SKYPE"_s, u"Skype"_s},
        {u"X-QQ"_s, u"QQ"_s},
        {u"QQ"_s, u"QQ"_s},
        {u"X-GOOGLE-TALK"_s, u"GoogleTalk"_s},
        {u"XMPP"_s, u"Jabber"_s},
        {u"X-ICQ"_s, u"ICQ"_s},
        {u"ICQ"_s, u"ICQ"_s},
        {u"X-JABBER"_s, u"Jabber"_s},
        {u"X-GADUGADU"_s, u"GaduGadu"_s},
        {u"GADUGADU"_s, u"GaduGadu"_s},
        {u"X-FACEBOOK"_s, u"Facebook"_s},
    };
    return services.value(key.toUpper());
}

void addLine(AbPerson &person, const Line &line, const QHash<QString, QString> &groupLabels, bool &hasName)
{
    const QString text = QString::fromUtf8(line.value);
    const QString groupLabel = line.group.isEmpty() ? QString() : groupLabels.value(line.group);
    const auto labelOr = [&groupLabel](const QString &fallback) { return groupLabel.isNull() ? fallback : groupLabel; };
    const QString &n = line.name;

    if (n == u"N") {
        const QStringList p = splitEscaped(text, u';');
        person.last = p.value(0);
        person.first = p.value(1);
        person.middle = p.value(2);
        person.prefix = p.value(3);
        person.suffix = p.value(4);
        hasName = hasName || !p.join(QString()).isEmpty();
    } else if (n == u"FN") {
        if (!hasName && person.first.isEmpty() && person.last.isEmpty())
            person.first = unescape(text);
    } else if (n == u"ORG") {
        const QStringList p = splitEscaped(text, u';');
        person.organization = p.value(0);
        person.department = p.value(1);
    } else if (n == u"TITLE") {
        person.jobTitle = unescape(text);
    } else if (n == u"NOTE") {
        person.note = unescape(text);
    } else if (n == u"NICKNAME") {
        person.nickname = unescape(text);
    } else if (n == u"BDAY") {
        person.birthday = parseDate(text);
    } else if (n == u"X-ABSHOWAS") {
        person.isCompany = text.trimmed().compare(u"COMPANY"_s, Qt::CaseInsensitive) == 0;
    } else if (n == u"TEL") {
        person.values.append({3, labelOr(phoneLabel(line.types)), unescape(text), {}});
    } else if (n == u"EMAIL") {
        person.values.append({4, labelOr(placeLabel(line.types)), unescape(text), {}});
    } else if (n == u"URL") {
        person.values.append(
            {22, labelOr(line.types.isEmpty() ? systemLabel("HomePage") : placeLabel(line.types)), unescape(text), {}});
    } else if (n == u"ADR") {
        const QStringList p = splitEscaped(text, u';');
        AbPerson::MultiValue mv{5, labelOr(placeLabel(line.types)), QString(), {}};
        const QList<QPair<QString, int>> parts = {
            {u"Street"_s, 2}, {u"City"_s, 3}, {u"State"_s, 4}, {u"ZIP"_s, 5}, {u"Country"_s, 6}};
        for (const auto &[key, index] : parts) {
            if (!p.value(index).isEmpty())
                mv.entries.append({key, p.value(index)});
        }
        person.values.append(mv);
    } else if (n == u"X-ABDATE") {
        person.values.append({12, labelOr(systemLabel("Other")), QString::number(abDateSeconds(parseDate(text))), {}});
    } else if (n == u"X-ABRELATEDNAMES") {
        person.values.append({23, labelOr(systemLabel("Other")), unescape(text), {}});
    } else if (n == u"IMPP" || !imService(n).isEmpty()) {
        QString service = imService(n);
        QString user = unescape(text);
        if (n == u"IMPP") {
            const qsizetype colon = user.indexOf(u':');
            service = line.params.value(u"X-SERVICE-TYPE"_s, imService(user.left(colon)));
            user = user.mid(colon + 1);
        }
        AbPerson::MultiValue mv{13, labelOr(placeLabel(line.types)), QString(), {}};
        if (!service.isEmpty())
            mv.entries.append({u"service"_s, service});
        mv.entries.append({u"username"_s, user});
        person.values.append(mv);
    } else if (n == u"PHOTO") {
        const QString encoding = line.params.value(u"ENCODING"_s).toUpper();
        if (encoding == u"B" || encoding == u"BASE64" || line.types.contains(u"BASE64"_s))
            person.photo = QByteArray::fromBase64(line.value);
        else if (line.value.startsWith("data:"))
            person.photo = QByteArray::fromBase64(line.value.mid(line.value.indexOf(',') + 1));
    }
}

} // namespace

qint64 abDateSeconds(const QDate &date)
{
    // Dates are kept at noon UTC, so the day reads the same in every time zone from UTC-11 to UTC+11.
    static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return epoch.secsTo(QDateTime(date, QTime(12, 0), Qt::UTC));
}

QList<AbPerson> readVCardFile(const QByteArray &data)
{
    QList<AbPerson> people;
    QList<Line> card;
    bool inCard = false;
    for (const QByteArray &raw : logicalLines(data)) {
        Line line;
        if (!parseLine(raw.trimmed(), line))
            continue;
        if (line.name == u"BEGIN" && line.value.trimmed().toUpper() == "VCARD") {
            inCard = true;
            card.clear();
        } else if (line.name == u"END" && line.value.trimmed().toUpper() == "VCARD" && inCard) {
            inCard = false;
            // X-ABLabel lines name the label of the other lines of their group.
            QHash<QString, QString> groupLabels;
            for (const Line &l : std::as_const(card)) {
                if (l.name == u"X-ABLABEL" && !l.group.isEmpty())
                    groupLabels.insert(l.group, unescape(QString::fromUtf8(l.value)));
            }
            AbPerson person;
            bool hasName = false;
            bool named = false;
            for (const Line &l : std::as_const(card)) {
                named = named || l.name == u"N" || l.name == u"FN";
                addLine(person, l, groupLabels, hasName);
            }
            if (person.isCompany) {
                person.first.clear();
                person.last.clear();
            }
            if (named)
                people.append(person);
        } else if (inCard) {
            card.append(line);
        }
    }
    return people;
}
