#include "android/androidentity.h"

#include <QDate>
#include <QDateTime>
#include <QHash>

using namespace Qt::StringLiterals;

namespace androidentity {

namespace {

struct Entry
{
    int type;
    int code;
    const char *word;
};

// Keyed by type × 100 + code. The words are the companion app's, misspellings included.
constexpr Entry kLabels[] = {
    {3, 0, "other"},        {3, 1, "home"},          {3, 2, "mobile"},      {3, 3, "work"},
    {3, 4, "work fax"},     {3, 5, "home fax"},      {3, 6, "pager"},       {3, 8, "callback"},
    {3, 9, "car"},          {3, 10, "company main"}, {3, 11, "isdn"},       {3, 12, "main"},
    {3, 13, "other fax"},   {3, 14, "radio"},        {3, 15, "telex"},      {3, 16, "ttytdd"},
    {3, 17, "work mobile"}, {3, 18, "work pager"},   {3, 19, "assistant"},  {3, 20, "mms"},
    {4, 0, "other"},        {4, 1, "home"},          {4, 2, "work"},        {4, 4, "mobile"},
    {5, 1, "default"},      {5, 2, "other"},         {5, 4, "short"},       {5, 5, "init"},
    {6, 0, "other"},        {6, 1, "anniversary"},   {6, 3, "birthday"},    {8, 0, "other"},
    {8, 1, "home"},         {8, 2, "work"},          {99, 1, "aim"},        {99, 2, "msn"},
    {99, 3, "yahoo"},       {99, 4, "skype"},        {99, 5, "qq"},         {99, 6, "googletalk"},
    {99, 7, "icq"},         {99, 8, "jabber"},       {99, 9, "netmeeting"}, {10, 0, "other"},
    {10, 1, "work"},        {11, 1, "assistant"},    {11, 2, "brother"},    {11, 3, "child"},
    {11, 4, "dom partner"}, {11, 5, "father"},       {11, 6, "friend"},     {11, 7, "manager"},
    {11, 8, "mother"},      {11, 9, "parnet"},       {11, 10, "partner"},   {11, 11, "refby"},
    {11, 12, "relative"},   {11, 13, "sister"},      {11, 14, "spouse"},    {12, 0, "other"},
    {12, 1, "home"},        {12, 2, "work"},         {13, 0, "other"},      {13, 1, "homepage"},
    {13, 2, "blog"},        {13, 3, "profile"},      {13, 4, "home"},       {13, 5, "work"},
    {13, 6, "ftp"},
};

struct Tables
{
    QHash<int, QString> words; // type × 100 + code → word
    QHash<QString, int> codes; // "type/word" → code
};

const Tables &tables()
{
    static const Tables t = [] {
        Tables made;
        for (const Entry &e : kLabels) {
            made.words.insert(e.type * 100 + e.code, QLatin1String(e.word));
            made.codes.insert(u"%1/%2"_s.arg(e.type).arg(QLatin1String(e.word)), e.code);
        }
        return made;
    }();
    return t;
}

QString text(const pim::DataRow &row, const char *column)
{
    return encodeText(row.value(QLatin1String(column)).toString());
}

QString label(int type, const pim::DataRow &row, const char *column = "data2")
{
    return labelFor(type, row.value(QLatin1String(column)).toString().toInt());
}

// An ISO 8601 date or date-time (extended or basic form), or a date value a reader put there.
QDate isoDate(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QDate)
        return value.toDate();
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().date();
    const QString s = value.toString().trimmed();
    if (s.isEmpty())
        return {};
    QDate d = QDate::fromString(s, Qt::ISODate);
    if (d.isValid())
        return d;
    const QDateTime dt = QDateTime::fromString(s, Qt::ISODate);
    if (dt.isValid())
        return dt.date();
    const QString datePart = s.section(u'T', 0, 0);
    d = QDate::fromString(datePart, Qt::ISODate);
    if (!d.isValid() && datePart.size() == 8)
        d = QDate::fromString(datePart, u"yyyyMMdd"_s);
    return d;
}

} // namespace

QString labelFor(int type, int code)
{
    return tables().words.value(type * 100 + code);
}

int codeFor(int type, const QString &word)
{
    return tables().codes.value(u"%1/%2"_s.arg(type).arg(word), 0);
}

QString encodeText(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64());
}

QString decodeText(const QString &field)
{
    return QString::fromUtf8(QByteArray::fromBase64(field.toLatin1()));
}

QString rowId(int type, qint64 part2, qint64 part3, const pim::DataRow &row)
{
    if (!row.src_id.isEmpty())
        return row.src_id;
    return u"%1/%2/%3/%4"_s.arg(type).arg(part2).arg(part3).arg(-row._id);
}

QString encodeDeleteId(int type, qint64 part2, qint64 part3, const pim::DataRow &row)
{
    return rowId(type, part2, part3, row);
}

QString encodeRow(int type, qint64 part2, qint64 part3, const pim::DataRow &row)
{
    QStringList fields{rowId(type, part2, part3, row)};
    switch (type) {
    case pim::ENTITY_NAME:
        fields << text(row, "data5") << text(row, "data2") << text(row, "data4") << text(row, "data3")
               << text(row, "data6");
        break;
    case pim::ENTITY_PHOTO:
        fields << QString::fromLatin1(row.value(u"data15"_s).toByteArray().toBase64());
        break;
    case pim::ENTITY_PHONE:
    case pim::ENTITY_EMAIL:
    case pim::ENTITY_NICKNAME:
    case pim::ENTITY_RELATION:
    case pim::ENTITY_WEBSITE:
        fields << label(type, row) << text(row, "data3") << text(row, "data1");
        break;
    case pim::ENTITY_EVENT: {
        const QDate date = isoDate(row.value(u"data1"_s));
        fields << label(type, row) << text(row, "data3")
               << (date.isValid() ? date.toString(u"yyyy-MM-dd"_s) : QString());
        break;
    }
    case pim::ENTITY_GROUP:
        fields << text(row, "data2");
        break;
    case pim::ENTITY_IM:
        fields << label(type, row) << text(row, "data3") << label(kImProtocol, row, "data5") << text(row, "data6")
               << text(row, "data1");
        break;
    case pim::ENTITY_NOTE:
        fields << text(row, "data1");
        break;
    case pim::ENTITY_ORGANIZATION:
        fields << label(type, row) << text(row, "data3") << text(row, "data1") << text(row, "data5")
               << text(row, "data4");
        break;
    case pim::ENTITY_ADDRESS:
        fields << label(type, row) << text(row, "data3") << text(row, "data10") << text(row, "data8")
               << text(row, "data7") << text(row, "data4") << text(row, "data9");
        break;
    default:
        break; // an unknown type travels as its id alone
    }
    return fields.join(u',');
}

bool parseRowId(const QString &text, int *type, qint64 *part2, qint64 *part3, qint64 *part4)
{
    // Four parts "-?[0-9]+" (ASCII digits only) joined by "/", nothing before or after (no trailing line feed
    // either). Read by hand: every received row's id goes through here.
    qint64 parts[4];
    const QStringView view(text);
    qsizetype at = 0;
    for (int n = 0; n < 4; ++n) {
        const qsizetype start = at;
        if (at < view.size() && view.at(at) == u'-')
            ++at;
        const qsizetype digits = at;
        while (at < view.size() && view.at(at) >= u'0' && view.at(at) <= u'9')
            ++at;
        if (at == digits || (n < 3 ? at >= view.size() || view.at(at) != u'/' : at != view.size()))
            return false;
        bool ok = false;
        parts[n] = n == 0 ? view.sliced(start, at - start).toInt(&ok) : view.sliced(start, at - start).toLongLong(&ok);
        if (!ok)
            return false;
        ++at; // past the "/"
    }
    if (type)
        *type = int(parts[0]);
    if (part2)
        *part2 = parts[1];
    if (part3)
        *part3 = parts[2];
    if (part4)
        *part4 = parts[3];
    return true;
}

void decodeRow(const QStringList &fields, int type, pim::DataRow &row)
{
    const auto has = [&fields](int n) { return fields.size() > n; };
    const auto setText = [&](int n, const char *column) {
        if (has(n))
            row.setValue(QLatin1String(column), decodeText(fields.at(n)));
    };
    // Field 1 is the type word, field 2 a custom label that, when present, turns the code into 0 (custom).
    const auto setLabel = [&](int codeType, int wordField, int customField, const char *codeColumn,
                              const char *customColumn) {
        if (has(wordField))
            row.setValue(QLatin1String(codeColumn), codeFor(codeType, fields.at(wordField)));
        if (has(customField)) {
            const QString custom = decodeText(fields.at(customField));
            row.setValue(QLatin1String(customColumn), custom);
            if (!custom.isEmpty())
                row.setValue(QLatin1String(codeColumn), 0);
        }
    };

    switch (type) {
    case pim::ENTITY_NAME:
        setText(1, "data5");
        setText(2, "data2");
        setText(3, "data4");
        setText(4, "data3");
        setText(5, "data6");
        row.setValue(u"data1"_s, pim::displayName(row));
        break;
    case pim::ENTITY_PHOTO:
        if (has(1))
            row.setValue(u"data15"_s, QByteArray::fromBase64(fields.at(1).toLatin1()));
        break;
    case pim::ENTITY_PHONE:
    case pim::ENTITY_EMAIL:
    case pim::ENTITY_RELATION:
    case pim::ENTITY_WEBSITE:
        setLabel(type, 1, 2, "data2", "data3");
        setText(3, "data1");
        break;
    case pim::ENTITY_ORGANIZATION:
        setLabel(type, 1, 2, "data2", "data3");
        setText(3, "data1");
        setText(4, "data5");
        setText(5, "data4");
        break;
    case pim::ENTITY_EVENT:
        setLabel(type, 1, 2, "data2", "data3");
        if (has(3)) {
            const QDate date = QDate::fromString(fields.at(3), u"yyyy-MM-dd"_s);
            row.setValue(u"data1"_s, date.isValid() ? date.toString(u"yyyy-MM-dd"_s) + u"T00:00:00"_s : QString());
        }
        break;
    case pim::ENTITY_ADDRESS:
        setLabel(type, 1, 2, "data2", "data3");
        setText(3, "data10");
        setText(4, "data8");
        setText(5, "data7");
        setText(6, "data4");
        setText(7, "data9");
        row.setValue(u"data1"_s, pim::addressText(row));
        break;
    case pim::ENTITY_NICKNAME:
        // Whatever word the phone sends, a nickname is stored as the default kind.
        row.setValue(u"data2"_s, 1);
        setText(3, "data1");
        break;
    case pim::ENTITY_GROUP:
        setText(1, "data2");
        break;
    case pim::ENTITY_IM:
        setLabel(pim::ENTITY_IM, 1, 2, "data2", "data3");
        setLabel(kImProtocol, 3, 4, "data5", "data6");
        setText(5, "data1");
        break;
    case pim::ENTITY_NOTE:
        setText(1, "data1");
        break;
    default:
        break;
    }
}

} // namespace androidentity
