#include "simplist.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <cstdlib>

namespace {

QString takeText(char *text)
{
    const QString s = text ? QString::fromUtf8(text) : QString();
    std::free(text);
    return s;
}

} // namespace

Plist Plist::parse(const QByteArray &bytes)
{
    plist_t node = nullptr;
    if (bytes.startsWith("bplist00"))
        plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &node);
    else if (!bytes.isEmpty())
        plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &node);
    return Plist(node);
}

QByteArray Plist::toXml() const
{
    char *out = nullptr;
    uint32_t length = 0;
    plist_to_xml(m_node, &out, &length);
    const QByteArray bytes(out, qsizetype(length));
    plist_to_xml_free(out);
    return bytes;
}

QByteArray Plist::toBinary() const
{
    char *out = nullptr;
    uint32_t length = 0;
    plist_to_bin(m_node, &out, &length);
    const QByteArray bytes(out, qsizetype(length));
    plist_to_bin_free(out);
    return bytes;
}

namespace simplist {

// libplist 2.2 gives and takes a date's seconds only as a 32-bit number (plist_get_date_val, plist_new_date),
// which wraps before 1933 and after 2069; its XML reader and writer carry the whole value (to the second), so
// dates go through the XML form here.
plist_t newDate(const QDateTime &at)
{
    if (!at.isValid())
        return nullptr;
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><date>" +
                           at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "Z</date></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    if (node && plist_get_node_type(node) != PLIST_DATE) {
        plist_free(node);
        node = nullptr;
    }
    return node;
}

QDateTime dateValue(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_DATE)
        return QDateTime();
    plist_t copy = plist_copy(node);
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(copy, &xml, &length);
    const QByteArray text(xml, xml ? qsizetype(length) : 0);
    plist_to_xml_free(xml);
    plist_free(copy);
    const qsizetype from = text.indexOf("<date>");
    const qsizetype to = text.indexOf("</date>");
    if (from < 0 || to < from)
        return QDateTime();
    return QDateTime::fromString(QString::fromLatin1(text.mid(from + 6, to - from - 6)), Qt::ISODate).toUTC();
}

plist_t str(const QString &s)
{
    return plist_new_string(s.toUtf8().constData());
}

plist_t unum(quint64 v)
{
    return plist_new_uint(v);
}

plist_t boolean(bool b)
{
    return plist_new_bool(b ? 1 : 0);
}

plist_t data(const QByteArray &bytes)
{
    return plist_new_data(bytes.constData(), quint64(bytes.size()));
}

bool isString(plist_t node)
{
    return node && plist_get_node_type(node) == PLIST_STRING;
}

QString string(plist_t node)
{
    if (!node)
        return QString();
    char *text = nullptr;
    if (plist_get_node_type(node) == PLIST_STRING)
        plist_get_string_val(node, &text);
    else if (plist_get_node_type(node) == PLIST_KEY)
        plist_get_key_val(node, &text);
    return takeText(text);
}

quint64 uintValue(plist_t node, bool *ok)
{
    const bool is = node && plist_get_node_type(node) == PLIST_UINT;
    if (ok)
        *ok = is;
    uint64_t v = 0;
    if (is)
        plist_get_uint_val(node, &v);
    return v;
}

bool boolValue(plist_t node, bool *ok)
{
    const bool is = node && plist_get_node_type(node) == PLIST_BOOLEAN;
    if (ok)
        *ok = is;
    uint8_t v = 0;
    if (is)
        plist_get_bool_val(node, &v);
    return v != 0;
}

QByteArray dataValue(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_DATA)
        return QByteArray();
    char *bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    return result;
}

plist_t item(plist_t dict, const char *key)
{
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    return plist_dict_get_item(dict, key);
}

QString stringItem(plist_t dict, const char *key)
{
    return string(item(dict, key));
}

QStringList keys(plist_t dict)
{
    QStringList result;
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return result;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &key, &value);
        if (!key)
            break;
        result << takeText(key);
    }
    std::free(it);
    return result;
}

Plist message(const char *name, std::initializer_list<plist_t> items)
{
    Plist m = Plist::array();
    plist_array_append_item(m.get(), plist_new_string(name));
    for (plist_t i : items)
        plist_array_append_item(m.get(), i);
    return m;
}

QString messageName(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_ARRAY || plist_array_get_size(node) == 0)
        return QString();
    plist_t first = plist_array_get_item(node, 0);
    return isString(first) ? string(first) : QString();
}

QJsonValue toJson(plist_t node)
{
    if (!node)
        return QJsonValue();
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN:
        return boolValue(node);
    case PLIST_UINT:
        return double(uintValue(node));
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return QJsonObject{{QStringLiteral("$real"), v}};
    }
    case PLIST_STRING:
    case PLIST_KEY:
        return string(node);
    case PLIST_ARRAY: {
        QJsonArray a;
        for (uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i)
            a.append(toJson(plist_array_get_item(node, i)));
        return a;
    }
    case PLIST_DICT: {
        // Walked once: looking each key up again would search the dictionary for every member.
        QJsonObject o;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            o.insert(takeText(key), toJson(value));
        }
        std::free(it);
        return o;
    }
    case PLIST_DATE:
        return QJsonObject{{QStringLiteral("$date"), dateValue(node).toString(Qt::ISODateWithMs)}};
    case PLIST_DATA:
        return QJsonObject{{QStringLiteral("$data"), QString::fromLatin1(dataValue(node).toBase64())}};
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        return QJsonObject{{QStringLiteral("$uid"), double(v)}};
    }
    default:
        return QJsonValue();
    }
}

Plist fromJson(const QJsonValue &value, QString *error)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return Plist(boolean(value.toBool()));
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (d < 0 || std::floor(d) != d) {
            *error = QStringLiteral("number %1 is not a whole, positive number (use {\"$real\": x})").arg(d);
            return Plist();
        }
        return Plist(unum(quint64(d)));
    }
    case QJsonValue::String:
        return Plist(str(value.toString()));
    case QJsonValue::Array: {
        Plist a = Plist::array();
        for (const QJsonValue &v : value.toArray()) {
            Plist item = fromJson(v, error);
            if (item.isNull())
                return Plist();
            plist_array_append_item(a.get(), item.release());
        }
        return a;
    }
    case QJsonValue::Object: {
        const QJsonObject o = value.toObject();
        if (o.size() == 1) {
            const QString tag = o.begin().key();
            const QJsonValue v = o.begin().value();
            if (tag == QLatin1String("$real"))
                return Plist(plist_new_real(v.toDouble()));
            if (tag == QLatin1String("$data"))
                return Plist(data(QByteArray::fromBase64(v.toString().toLatin1())));
            if (tag == QLatin1String("$uid"))
                return Plist(plist_new_uid(quint64(v.toDouble())));
            if (tag == QLatin1String("$date")) {
                const QDateTime at = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
                if (!at.isValid()) {
                    *error = QStringLiteral("bad date %1").arg(v.toString());
                    return Plist();
                }
                return Plist(newDate(at));
            }
        }
        Plist d = Plist::dict();
        for (auto it = o.begin(); it != o.end(); ++it) {
            Plist item = fromJson(it.value(), error);
            if (item.isNull())
                return Plist();
            plist_dict_set_item(d.get(), it.key().toUtf8().constData(), item.release());
        }
        return d;
    }
    default:
        *error = QStringLiteral("null values have no property-list form");
        return Plist();
    }
}

} // namespace simplist
