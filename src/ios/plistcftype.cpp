#include "ios/plistcftype.h"

#include <plist/plist.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Seconds from 1970-01-01 to 2001-01-01 00:00:00 UTC, the epoch of property-list dates.
constexpr qint64 kPlistEpochOffset = 978307200;

plist_t asNode(void *p)
{
    return static_cast<plist_t>(p);
}

QString takeUtf8(char *text)
{
    const QString s = text ? QString::fromUtf8(text) : QString();
    std::free(text);
    return s;
}

} // namespace

PlistCFType::Holder::~Holder()
{
    if (owns && node)
        plist_free(asNode(node));
}

PlistCFType::PlistCFType(void *node, bool owns)
{
    if (node)
        m_holder = std::make_shared<Holder>(node, owns);
}

PlistCFType::~PlistCFType() = default;

PlistCFType PlistCFType::fromBool(bool value)
{
    return PlistCFType(plist_new_bool(value ? 1 : 0), true);
}

PlistCFType PlistCFType::fromString(const QString &value)
{
    return PlistCFType(plist_new_string(value.toUtf8().constData()), true);
}

PlistCFType PlistCFType::fromByteArray(const QByteArray &value)
{
    return PlistCFType(plist_new_data(value.constData(), quint64(value.size())), true);
}

PlistCFType PlistCFType::fromDateTime(const QDateTime &value)
{
    // The instant the date-time stands for, in seconds from the property-list epoch (UTC).
    if (!value.isValid())
        return PlistCFType();
    return fromSeconds(double(value.toMSecsSinceEpoch() - kPlistEpochOffset * 1000) / 1000.0);
}

namespace {

// libplist 2.2 keeps a date as a double but gives and takes it only as 32-bit whole seconds
// (plist_get_date_val, plist_new_date), which wraps before 1933 and after 2069. The double travels here through
// the binary form instead: a one-object binary property list ("bplist00", the date marker 0x33 and the big-endian
// double, the offset table, the 32-byte trailer), which the library's binary reader and writer carry whole.
QByteArray oneDatePlist(double seconds)
{
    QByteArray b("bplist00");
    b.append(char(0x33));
    quint64 bits = 0;
    static_assert(sizeof bits == sizeof seconds);
    std::memcpy(&bits, &seconds, sizeof bits);
    for (int i = 7; i >= 0; --i)
        b.append(char((bits >> (i * 8)) & 0xFF));
    b.append(char(8)); // offset table: the object at byte 8
    QByteArray trailer(32, '\0');
    trailer[6] = 1;  // offset size
    trailer[7] = 1;  // object reference size
    trailer[15] = 1; // one object
    // top object 0; offset table at byte 17
    trailer[31] = 17;
    return b + trailer;
}

} // namespace

PlistCFType PlistCFType::fromSeconds(double seconds)
{
    const QByteArray bytes = oneDatePlist(seconds);
    plist_t node = nullptr;
    plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &node);
    if (node && plist_get_node_type(node) != PLIST_DATE) {
        plist_free(node);
        node = nullptr;
    }
    return PlistCFType(node, true);
}

double PlistCFType::toSeconds(bool *ok) const
{
    if (ok)
        *ok = false;
    if (type() != TypeDate)
        return 0.0;
    // The node alone written as a binary property list; its one object is the date (marker 0x33, 8 bytes).
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(asNode(node()), &bin, &length);
    const QByteArray bytes(bin, bin ? qsizetype(length) : 0);
    plist_to_bin_free(bin);
    if (bytes.size() < 8 + 9 + 32)
        return 0.0;
    const QByteArray trailer = bytes.right(32);
    const int offsetSize = quint8(trailer[6]);
    quint64 tableAt = 0;
    for (int i = 24; i < 32; ++i)
        tableAt = (tableAt << 8) | quint8(trailer[i]);
    quint64 top = 0;
    for (int i = 16; i < 24; ++i)
        top = (top << 8) | quint8(trailer[i]);
    if (offsetSize < 1 || offsetSize > 8 || tableAt + (top + 1) * quint64(offsetSize) > quint64(bytes.size()))
        return 0.0;
    quint64 at = 0;
    for (int i = 0; i < offsetSize; ++i)
        at = (at << 8) | quint8(bytes[qsizetype(tableAt + top * quint64(offsetSize) + quint64(i))]);
    if (at + 9 > quint64(bytes.size()) || quint8(bytes[qsizetype(at)]) != 0x33)
        return 0.0;
    quint64 bits = 0;
    for (int i = 1; i <= 8; ++i)
        bits = (bits << 8) | quint8(bytes[qsizetype(at) + i]);
    double seconds = 0.0;
    std::memcpy(&seconds, &bits, sizeof seconds);
    if (ok)
        *ok = true;
    return seconds;
}

PlistCFType PlistCFType::newDict()
{
    return PlistCFType(plist_new_dict(), true);
}

PlistCFType PlistCFType::newArray()
{
    return PlistCFType(plist_new_array(), true);
}

namespace {

// A big-endian unsigned number of `size` bytes at `at`, or false when it does not fit in the data.
bool readBE(const QByteArray &data, quint64 at, quint64 size, quint64 *value)
{
    if (size == 0 || size > 8 || at > quint64(data.size()) || size > quint64(data.size()) - at)
        return false;
    *value = 0;
    for (quint64 i = 0; i < size; ++i)
        *value = (*value << 8) | quint8(data[qsizetype(at + i)]);
    return true;
}

// The element count of the binary object at `at` and where its content starts.
bool objectCount(const QByteArray &data, quint64 at, quint64 *count, quint64 *content)
{
    quint64 marker = 0;
    if (!readBE(data, at, 1, &marker))
        return false;
    *count = marker & 0x0F;
    *content = at + 1;
    if (*count != 0x0F)
        return true;
    quint64 intMarker = 0;
    if (!readBE(data, at + 1, 1, &intMarker) || (intMarker & 0xF0) != 0x10)
        return false;
    const quint64 size = quint64(1) << (intMarker & 0x0F);
    *content = at + 2 + size;
    return readBE(data, at + 2, size, count);
}

// True when a string of a binary property list holds a NUL character. libplist cuts such a string at the NUL but
// keeps its full length (its XML reader does the same): reading a dictionary key then asserts (ending the program) and
// writing the list out again reads past the cut copy. No real device or backup writes one, so the document is refused
// as unreadable.
bool binaryStringHoldsNul(const QByteArray &data)
{
    quint64 offsetSize = 0, objects = 0, tableAt = 0;
    const quint64 trailer = quint64(data.size()) - 32;
    if (data.size() < 40 || !readBE(data, trailer + 6, 1, &offsetSize) || !readBE(data, trailer + 8, 8, &objects) ||
        !readBE(data, trailer + 24, 8, &tableAt) || objects > quint64(data.size()))
        return false; // libplist refuses what does not even have a readable trailer
    for (quint64 i = 0; i < objects; ++i) {
        quint64 at = 0, marker = 0, length = 0, start = 0;
        if (!readBE(data, tableAt + i * offsetSize, offsetSize, &at) || !readBE(data, at, 1, &marker))
            continue;
        const quint64 unit = (marker >> 4) == 0x5 ? 1 : (marker >> 4) == 0x6 ? 2 : 0;
        if (unit == 0 || !objectCount(data, at, &length, &start) || start > quint64(data.size()) ||
            length > (quint64(data.size()) - start) / unit)
            continue;
        for (quint64 c = 0; c < length; ++c) {
            quint64 character = 0;
            if (readBE(data, start + c * unit, unit, &character) && character == 0)
                return true;
        }
    }
    return false;
}

// The same for an XML property list: a NUL byte, or a character reference to NUL, anywhere in it.
bool xmlHoldsNul(const QByteArray &data)
{
    static const QRegularExpression nulReference(QStringLiteral("&#(0+|[xX]0+);"));
    return data.contains('\0') || nulReference.match(QString::fromLatin1(data)).hasMatch();
}

// Lists and dictionaries nested deeper than this are refused before libplist reads them: its reader and its
// free() recurse once per level, and a list nested 100,000 deep overflows the stack. No device record, backup
// description or keyed archive comes near it (they nest a handful of levels; archives link objects by UID).
constexpr int kMaxNesting = 128;

// True when a binary property list nests containers deeper than kMaxNesting, refers to a container from inside
// itself, or would unfold into far more objects than it holds (a container referred to many times is read as
// that many copies). Walked without recursion; each object is visited once.
bool binaryTooDeep(const QByteArray &data)
{
    quint64 offsetSize = 0, refSize = 0, objects = 0, top = 0, tableAt = 0;
    const quint64 trailer = quint64(data.size()) - 32;
    if (data.size() < 40 || !readBE(data, trailer + 6, 1, &offsetSize) || !readBE(data, trailer + 7, 1, &refSize) ||
        !readBE(data, trailer + 8, 8, &objects) || !readBE(data, trailer + 16, 8, &top) ||
        !readBE(data, trailer + 24, 8, &tableAt) || objects > quint64(data.size()) || top >= objects ||
        offsetSize == 0 || refSize == 0)
        return false; // libplist refuses it anyway
    // Children of a container: array and set (0xA, 0xC) hold count references, a dictionary (0xD) twice that.
    const auto children = [&](quint64 object, quint64 *count, quint64 *first) {
        quint64 at = 0, marker = 0, length = 0, start = 0;
        if (!readBE(data, tableAt + object * offsetSize, offsetSize, &at) || !readBE(data, at, 1, &marker))
            return false;
        const quint64 kind = marker >> 4;
        if ((kind != 0xA && kind != 0xC && kind != 0xD) || !objectCount(data, at, &length, &start))
            return false;
        if (kind == 0xD)
            length *= 2;
        if (start > quint64(data.size()) || length > (quint64(data.size()) - start) / refSize)
            return false;
        *count = length;
        *first = start;
        return true;
    };
    const quint64 unfoldLimit = 2 * quint64(data.size()) + 1024;
    enum : quint8 { Unseen, Open, Done };
    std::vector<quint8> state(objects, Unseen);
    std::vector<quint64> unfolded(objects, 1); // objects this one stands for once its references are copied
    struct Frame
    {
        quint64 object, next, count, first;
    };
    std::vector<Frame> stack;
    const auto enter = [&](quint64 object) {
        state[object] = Open;
        Frame frame{object, 0, 0, 0};
        if (!children(object, &frame.count, &frame.first))
            frame.count = 0;
        stack.push_back(frame);
    };
    enter(top);
    while (!stack.empty()) {
        if (stack.size() > kMaxNesting)
            return true;
        Frame &frame = stack.back();
        if (frame.next == frame.count) {
            state[frame.object] = Done;
            const quint64 size = unfolded[frame.object];
            stack.pop_back();
            if (!stack.empty()) {
                quint64 &parent = unfolded[stack.back().object];
                parent = std::min(unfoldLimit, parent + size);
            }
            continue;
        }
        quint64 child = 0;
        const bool read = readBE(data, frame.first + frame.next * refSize, refSize, &child);
        ++frame.next;
        if (!read || child >= objects)
            continue;
        if (state[child] == Open)
            return true; // a container inside itself
        if (state[child] == Done) {
            quint64 &own = unfolded[frame.object];
            own = std::min(unfoldLimit, own + unfolded[child]);
            continue;
        }
        enter(child);
    }
    return unfolded[top] >= unfoldLimit;
}

// The same for an XML property list: <dict> and <array> elements nested deeper than kMaxNesting. Comments and
// character data sections are passed over; empty elements ("<dict/>") open nothing.
bool xmlTooDeep(const QByteArray &data)
{
    const QByteArrayView all(data);
    // The tag text between "<" and ">" names the element (after a "/" for an end tag).
    const auto names = [](QByteArrayView tag, qsizetype from, QByteArrayView name) {
        if (tag.size() < from + name.size() || tag.sliced(from, name.size()) != name)
            return false;
        if (tag.size() == from + name.size())
            return true;
        const char after = tag[from + name.size()];
        return after == '/' || after == ' ' || after == '\t' || after == '\n' || after == '\r';
    };
    int depth = 0;
    qsizetype at = 0;
    while ((at = data.indexOf('<', at)) >= 0) {
        const QByteArrayView rest = all.sliced(at + 1);
        if (rest.startsWith("!--") || rest.startsWith("![CDATA[")) {
            const qsizetype end = data.indexOf(rest.startsWith("!--") ? "-->" : "]]>", at + 1);
            if (end < 0)
                break;
            at = end + 3;
            continue;
        }
        const qsizetype close = data.indexOf('>', at);
        if (close < 0)
            break;
        const QByteArrayView tag = all.sliced(at + 1, close - at - 1);
        if (names(tag, 0, "dict") || names(tag, 0, "array")) {
            if (!tag.endsWith('/') && ++depth > kMaxNesting)
                return true;
        } else if (tag.startsWith('/') && (names(tag, 1, "dict") || names(tag, 1, "array"))) {
            --depth;
        }
        at = close + 1;
    }
    return false;
}

} // namespace

PlistCFType PlistCFType::fromData(const QByteArray &data)
{
    plist_t root = nullptr;
    if (data.size() >= 7 && data.startsWith("bplist")) {
        if (!binaryStringHoldsNul(data) && !binaryTooDeep(data))
            plist_from_bin(data.constData(), uint32_t(data.size()), &root);
    } else if (!data.isEmpty() && !xmlHoldsNul(data) && !xmlTooDeep(data)) {
        plist_from_xml(data.constData(), uint32_t(data.size()), &root);
    }
    return PlistCFType(root, true);
}

int PlistCFType::type() const
{
    if (!node())
        return TypeNone;
    switch (plist_get_node_type(asNode(node()))) {
    case PLIST_STRING:
    case PLIST_KEY:
        return TypeString;
    case PLIST_DICT:
        return TypeDict;
    case PLIST_ARRAY:
        return TypeArray;
    case PLIST_DATA:
        return TypeData;
    case PLIST_BOOLEAN:
        return TypeBool;
    case PLIST_UINT:
    case PLIST_REAL:
        return TypeNumber;
    case PLIST_UID:
        return TypeUid;
    case PLIST_DATE:
        return TypeDate;
    default:
        return TypeNone;
    }
}

QString PlistCFType::toString() const
{
    if (!node())
        return QString();
    const plist_type kind = plist_get_node_type(asNode(node()));
    if (kind == PLIST_STRING) {
        // Not plist_get_string_val: a string holding a NUL byte (a damaged or hostile file) fails its length
        // assertion and ends the program. The text ends at the first NUL, as the C string would.
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(asNode(node()), &length);
        return text ? QString::fromUtf8(text, qsizetype(qstrnlen(text, uint(qMin<uint64_t>(length, INT_MAX)))))
                    : QString();
    }
    char *text = nullptr;
    if (kind == PLIST_KEY)
        plist_get_key_val(asNode(node()), &text);
    return takeUtf8(text);
}

QByteArray PlistCFType::toByteArray() const
{
    if (type() != TypeData)
        return QByteArray();
    char *bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(asNode(node()), &bytes, &length);
    const QByteArray result = (bytes && length > 0) ? QByteArray(bytes, qsizetype(length)) : QByteArray();
    std::free(bytes);
    return result;
}

bool PlistCFType::toBool(bool defaultValue) const
{
    if (type() != TypeBool)
        return defaultValue;
    uint8_t value = 0;
    plist_get_bool_val(asNode(node()), &value);
    return value != 0;
}

quint64 PlistCFType::toUInt64(quint64 defaultValue) const
{
    if (!node() || plist_get_node_type(asNode(node())) != PLIST_UINT)
        return defaultValue;
    uint64_t value = 0;
    plist_get_uint_val(asNode(node()), &value);
    return value;
}

int PlistCFType::toInt(int defaultValue) const
{
    if (!node() || plist_get_node_type(asNode(node())) != PLIST_UINT)
        return defaultValue;
    return int(toUInt64());
}

short PlistCFType::toShort(short defaultValue) const
{
    if (!node() || plist_get_node_type(asNode(node())) != PLIST_UINT)
        return defaultValue;
    return short(toUInt64());
}

double PlistCFType::toDouble(double defaultValue) const
{
    if (!node() || plist_get_node_type(asNode(node())) != PLIST_REAL)
        return defaultValue;
    double value = 0;
    plist_get_real_val(asNode(node()), &value);
    return value;
}

QDateTime PlistCFType::toDateTime() const
{
    bool ok = false;
    const double seconds = toSeconds(&ok);
    if (!ok)
        return QDateTime();
    // The instant, shown in local time.
    const qint64 ms = qint64(std::llround(seconds * 1000.0)) + kPlistEpochOffset * 1000;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
}

quint32 PlistCFType::uid() const
{
    if (type() != TypeUid)
        return 0;
    uint64_t value = 0;
    plist_get_uid_val(asNode(node()), &value);
    return quint32(value);
}

int PlistCFType::count() const
{
    switch (type()) {
    case TypeDict:
        return int(plist_dict_get_size(asNode(node())));
    case TypeArray:
        return int(plist_array_get_size(asNode(node())));
    default:
        return 0;
    }
}

QString PlistCFType::toText() const
{
    if (!node())
        return QStringLiteral("NULL");
    switch (plist_get_node_type(asNode(node()))) {
    case PLIST_BOOLEAN:
        return toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case PLIST_UINT:
        return QString::number(toUInt64());
    case PLIST_REAL:
        return QString::number(toDouble(), 'g', 6);
    case PLIST_STRING:
    case PLIST_KEY:
        return toString();
    case PLIST_ARRAY: {
        QStringList parts;
        for (int i = 0, n = count(); i < n; ++i)
            parts << item(i).toText();
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    case PLIST_DICT: {
        QStringList parts;
        for (const PlistCFType &key : keys())
            parts << QStringLiteral("%1 : %2").arg(key.toText(), item(key.toString()).toText());
        return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
    }
    case PLIST_DATE:
        return toDateTime().toString();
    case PLIST_DATA:
        return QString::fromLatin1(toByteArray().toBase64());
    case PLIST_UID:
        return QString::number(uid());
    default:
        return QStringLiteral("NULL");
    }
}

PlistCFType PlistCFType::item(const QString &key) const
{
    if (type() != TypeDict)
        return PlistCFType();
    return PlistCFType(plist_dict_get_item(asNode(node()), key.toUtf8().constData()), false);
}

PlistCFType PlistCFType::item(const PlistCFType &key) const
{
    return item(key.toText());
}

PlistCFType PlistCFType::item(int index) const
{
    if (type() != TypeArray || index < 0 || index >= count())
        return PlistCFType();
    return PlistCFType(plist_array_get_item(asNode(node()), uint32_t(index)), false);
}

QList<PlistCFType> PlistCFType::keys() const
{
    QList<PlistCFType> result;
    if (type() != TypeDict || count() == 0)
        return result;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(asNode(node()), &it);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(asNode(node()), it, &key, &value);
        if (!key)
            break;
        result.append(PlistCFType(plist_new_string(key), true));
        std::free(key);
    }
    std::free(it);
    return result;
}

void PlistCFType::forEachItem(const std::function<void(const QString &, const PlistCFType &)> &visit) const
{
    if (type() != TypeDict || count() == 0)
        return;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(asNode(node()), &it);
    // The iterator is freed however the visit ends (it may throw).
    const std::unique_ptr<void, void (*)(void *)> release(it, std::free);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(asNode(node()), it, &key, &value);
        if (!key)
            break;
        const QString text = QString::fromUtf8(key);
        std::free(key);
        visit(text, PlistCFType(value, false));
    }
}

void *PlistCFType::adopt(const PlistCFType &value)
{
    void *child = value.node();
    // A node that already sits in a tree (a view into a container, or this container itself) cannot move
    // without tearing that tree; it goes in as a copy and the value stays what it was.
    if (plist_get_parent(asNode(child)) || child == node())
        return plist_copy(asNode(child));
    value.m_holder->owns = false;
    m_children.insert(child, value.m_holder);
    return child;
}

void PlistCFType::setItem(const QString &key, const PlistCFType &value)
{
    if (type() != TypeDict || value.isNull())
        return;
    const QByteArray utf8 = key.toUtf8();
    // The library frees the entry being replaced; its holder (if it was inserted here) goes with it.
    if (plist_t old = plist_dict_get_item(asNode(node()), utf8.constData()))
        m_children.remove(old);
    plist_dict_set_item(asNode(node()), utf8.constData(), asNode(adopt(value)));
}

void PlistCFType::setItem(const PlistCFType &key, const PlistCFType &value)
{
    if (key.isNull())
        return;
    setItem(key.toText(), value);
}

void PlistCFType::append(const PlistCFType &value)
{
    if (type() != TypeArray || value.isNull())
        return;
    plist_array_append_item(asNode(node()), asNode(adopt(value)));
}

QHash<QString, PlistCFType> PlistCFType::archiveRootObject() const
{
    QHash<QString, PlistCFType> result;
    if (!isDict())
        return result;
    const PlistCFType objects = item(QStringLiteral("$objects"));
    if (objects.type() != TypeArray)
        return result;
    const PlistCFType root = objects.item(int(item(QStringLiteral("$top")).item(QStringLiteral("root")).uid()));
    if (!root.isDict())
        return result;
    for (const PlistCFType &key : root.keys()) {
        const PlistCFType value = root.item(key.toString());
        result.insert(key.toText(), value.type() == TypeUid ? objects.item(int(value.uid())) : value);
    }
    return result;
}

QByteArray PlistCFType::toBinary() const
{
    if (!node())
        return QByteArray();
    // The writer walks the node's own tree (a value inside a dictionary too, as toSeconds relies on): no copy.
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(asNode(node()), &bin, &length);
    const QByteArray result(bin, bin ? qsizetype(length) : 0);
    plist_to_bin_free(bin);
    return result;
}

bool PlistCFType::sameAs(const PlistCFType &other) const
{
    if (isNull() || other.isNull())
        return isNull() && other.isNull();
    return toBinary() == other.toBinary();
}

PlistCFType PlistCFType::copy() const
{
    return isNull() ? PlistCFType() : PlistCFType(plist_copy(asNode(node())), true);
}

void PlistCFType::removeItem(const QString &key)
{
    if (type() != TypeDict)
        return;
    const QByteArray k = key.toUtf8();
    if (plist_t child = plist_dict_get_item(asNode(node()), k.constData())) {
        m_children.remove(child);
        plist_dict_remove_item(asNode(node()), k.constData());
    }
}

QByteArray PlistCFType::toXml() const
{
    if (!node())
        return QByteArray();
    // libplist 2.2's XML writer leaves UID nodes changed for a later binary write; it gets a copy.
    plist_t copy = plist_copy(asNode(node()));
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(copy, &xml, &length);
    const QByteArray result(xml, qsizetype(length));
    plist_to_xml_free(xml);
    plist_free(copy);
    return result;
}
