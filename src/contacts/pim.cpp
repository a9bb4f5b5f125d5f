#include "contacts/pim.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QHash>
#include <QMetaType>
#include <QMutex>

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;

namespace pim {

// --- RowColumns ------------------------------------------------------------------------------------------------

// The block of a row's columns: this header, then `capacity` values, then as many column codes; the first
// `size` of each are in use, in name order.
struct alignas(alignof(QVariant)) RowColumns::Data
{
    QAtomicInt ref;
    quint16 size;
    quint16 capacity;

    QVariant *values() { return reinterpret_cast<QVariant *>(this + 1); }
    const QVariant *values() const { return reinterpret_cast<const QVariant *>(this + 1); }
    quint16 *codes() { return reinterpret_cast<quint16 *>(values() + capacity); }
    const quint16 *codes() const { return reinterpret_cast<const quint16 *>(values() + capacity); }

    static Data *allocate(qsizetype capacity)
    {
        void *memory = ::operator new(sizeof(Data) + size_t(capacity) * (sizeof(QVariant) + sizeof(quint16)));
        Data *data = new (memory) Data;
        data->ref.storeRelaxed(1);
        data->size = 0;
        data->capacity = quint16(capacity);
        return data;
    }
    static void release(Data *data)
    {
        if (!data || data->ref.deref())
            return;
        QVariant *values = data->values();
        for (qsizetype i = 0; i < data->size; ++i)
            values[i].~QVariant();
        data->~Data();
        ::operator delete(data);
    }
};
static_assert(sizeof(QVariant) % alignof(QVariant) == 0);

namespace {

constexpr int kNumbered = 16; // "data0" … "data15"
constexpr int kMaxCode = 0xFFFF;

const std::array<QString, kNumbered> &numberedNames()
{
    static const std::array<QString, kNumbered> names = [] {
        std::array<QString, kNumbered> all;
        for (int n = 0; n < kNumbered; ++n)
            all[size_t(n)] = u"data"_s + QString::number(n);
        return all;
    }();
    return names;
}

// Where each numbered name comes in QString order.
const std::array<quint8, kNumbered> &numberedRanks()
{
    static const std::array<quint8, kNumbered> ranks = [] {
        std::array<int, kNumbered> order{};
        for (int n = 0; n < kNumbered; ++n)
            order[size_t(n)] = n;
        const auto &names = numberedNames();
        std::sort(order.begin(), order.end(), [&names](int a, int b) { return names[size_t(a)] < names[size_t(b)]; });
        std::array<quint8, kNumbered> all{};
        for (int r = 0; r < kNumbered; ++r)
            all[size_t(order[size_t(r)])] = quint8(r);
        return all;
    }();
    return ranks;
}

// Column names other than "dataN", numbered from kNumbered on in the order first used. The strings never move,
// so the references handed out stay valid.
struct NameRegistry
{
    QMutex mutex;
    std::vector<std::unique_ptr<QString>> names;
    QHash<QString, int> codes;
};

NameRegistry &registry()
{
    static NameRegistry r;
    return r;
}

// N for "data0" … "data15" written exactly so; -1 for any other name ("data01" is another column).
int dataNumber(QStringView name)
{
    const qsizetype size = name.size();
    if (size < 5 || size > 6 || name[0] != u'd' || name[1] != u'a' || name[2] != u't' || name[3] != u'a')
        return -1;
    const char16_t first = name[4].unicode();
    if (size == 5)
        return first >= u'0' && first <= u'9' ? int(first - u'0') : -1;
    const char16_t second = name[5].unicode();
    return first == u'1' && second >= u'0' && second <= u'5' ? 10 + int(second - u'0') : -1;
}

const QString &columnName(int code)
{
    if (code < kNumbered)
        return numberedNames()[size_t(code)];
    NameRegistry &r = registry();
    QMutexLocker lock(&r.mutex);
    return *r.names[size_t(code - kNumbered)];
}

// Name order of two codes.
bool codeLess(int a, int b)
{
    if (a < kNumbered && b < kNumbered)
        return numberedRanks()[size_t(a)] < numberedRanks()[size_t(b)];
    return columnName(a) < columnName(b);
}

// The code of a name without registering it; -1 when the name was never used.
int knownCode(const QString &name)
{
    const int number = dataNumber(name);
    if (number >= 0)
        return number;
    NameRegistry &r = registry();
    QMutexLocker lock(&r.mutex);
    return r.codes.value(name, -1);
}

} // namespace

int RowColumns::code(const QString &name)
{
    const int number = dataNumber(name);
    if (number >= 0)
        return number;
    NameRegistry &r = registry();
    QMutexLocker lock(&r.mutex);
    const auto it = r.codes.constFind(name);
    if (it != r.codes.cend())
        return *it;
    const int next = kNumbered + int(r.names.size());
    if (next > kMaxCode)
        throw std::length_error("pim::RowColumns: too many column names");
    r.names.push_back(std::make_unique<QString>(name));
    r.codes.insert(name, next);
    return next;
}

const QString &RowColumns::const_iterator::key() const
{
    return columnName(m_data->codes()[m_index]);
}

const QVariant &RowColumns::const_iterator::value() const
{
    return m_data->values()[m_index];
}

const QString &RowColumns::iterator::key() const
{
    return columnName(m_data->codes()[m_index]);
}

QVariant &RowColumns::iterator::value() const
{
    return m_data->values()[m_index];
}

RowColumns::RowColumns(std::initializer_list<std::pair<QString, QVariant>> list)
{
    for (const auto &[name, value] : list)
        insert(name, value);
}

RowColumns::RowColumns(const QMap<QString, QVariant> &map)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        insert(it.key(), it.value());
}

RowColumns::RowColumns(const RowColumns &other) noexcept : d(other.d)
{
    if (d)
        d->ref.ref();
}

RowColumns &RowColumns::operator=(const RowColumns &other) noexcept
{
    if (other.d)
        other.d->ref.ref();
    Data::release(std::exchange(d, other.d));
    return *this;
}

RowColumns::~RowColumns()
{
    Data::release(d);
}

qsizetype RowColumns::size() const noexcept
{
    return d ? d->size : 0;
}

void RowColumns::clear()
{
    Data::release(std::exchange(d, nullptr));
}

qsizetype RowColumns::indexOf(int code) const
{
    if (!d || code < 0)
        return -1;
    const quint16 *codes = d->codes();
    for (qsizetype i = 0; i < d->size; ++i) {
        if (codes[i] == code)
            return i;
    }
    return -1;
}

RowColumns::Data *RowColumns::detach(qsizetype extra)
{
    const qsizetype size = this->size();
    const bool shared = d && d->ref.loadRelaxed() != 1;
    if (d && !shared && size + extra <= d->capacity)
        return d;
    // Most rows have up to four columns; names, organizations and addresses up to eleven.
    qsizetype capacity = d ? d->capacity : 0;
    if (size + extra > capacity)
        capacity = size + extra <= 4 ? 4 : size + extra <= 12 ? 12 : std::max<qsizetype>(2 * capacity, size + extra);
    if (capacity > kMaxCode)
        throw std::length_error("pim::RowColumns: too many columns");
    Data *copy = Data::allocate(capacity);
    if (d) {
        QVariant *from = d->values();
        QVariant *to = copy->values();
        for (qsizetype i = 0; i < size; ++i) {
            if (shared)
                new (to + i) QVariant(from[i]);
            else
                new (to + i) QVariant(std::move(from[i]));
        }
        std::copy_n(d->codes(), size, copy->codes());
        copy->size = quint16(size);
    }
    Data::release(std::exchange(d, copy));
    return d;
}

bool RowColumns::contains(const QString &name) const
{
    return indexOf(knownCode(name)) >= 0;
}

QVariant RowColumns::value(const QString &name, const QVariant &defaultValue) const
{
    const qsizetype at = indexOf(knownCode(name));
    return at >= 0 ? d->values()[at] : defaultValue;
}

QVariant &RowColumns::operator[](const QString &name)
{
    auto it = find(name);
    if (it == end())
        it = insert(name, QVariant());
    return it.value();
}

RowColumns::iterator RowColumns::insert(const QString &name, const QVariant &value)
{
    const int c = code(name);
    qsizetype at = indexOf(c);
    if (at >= 0) {
        Data *data = detach(0);
        data->values()[at] = value;
        return iterator(data, at);
    }
    Data *data = detach(1);
    QVariant *values = data->values();
    quint16 *codes = data->codes();
    const qsizetype size = data->size;
    at = 0;
    while (at < size && codeLess(codes[at], c))
        ++at;
    if (at == size) {
        new (values + size) QVariant(value);
    } else {
        new (values + size) QVariant(std::move(values[size - 1]));
        std::move_backward(values + at, values + size - 1, values + size);
        values[at] = value;
        std::copy_backward(codes + at, codes + size, codes + size + 1);
    }
    codes[at] = quint16(c);
    data->size = quint16(size + 1);
    return iterator(data, at);
}

qsizetype RowColumns::remove(const QString &name)
{
    const qsizetype at = indexOf(knownCode(name));
    if (at < 0)
        return 0;
    Data *data = detach(0);
    QVariant *values = data->values();
    quint16 *codes = data->codes();
    const qsizetype size = data->size;
    std::move(values + at + 1, values + size, values + at);
    values[size - 1].~QVariant();
    std::copy(codes + at + 1, codes + size, codes + at);
    data->size = quint16(size - 1);
    return 1;
}

QVariant RowColumns::take(const QString &name)
{
    const qsizetype at = indexOf(knownCode(name));
    if (at < 0)
        return QVariant();
    QVariant value = d->values()[at];
    remove(name);
    return value;
}

QStringList RowColumns::keys() const
{
    QStringList names;
    names.reserve(size());
    for (auto it = begin(); it != end(); ++it)
        names.append(it.key());
    return names;
}

QList<QVariant> RowColumns::values() const
{
    QList<QVariant> all;
    all.reserve(size());
    for (const QVariant &v : *this)
        all.append(v);
    return all;
}

QMap<QString, QVariant> RowColumns::toMap() const
{
    QMap<QString, QVariant> map;
    for (auto it = begin(); it != end(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

RowColumns::const_iterator RowColumns::constFind(const QString &name) const
{
    const qsizetype at = indexOf(knownCode(name));
    return at >= 0 ? const_iterator(d, at) : end();
}

RowColumns::iterator RowColumns::find(const QString &name)
{
    const qsizetype at = indexOf(knownCode(name));
    if (at < 0)
        return end();
    return iterator(detach(0), at);
}

RowColumns::iterator RowColumns::begin()
{
    return d ? iterator(detach(0), 0) : iterator();
}

RowColumns::iterator RowColumns::end()
{
    return d ? iterator(detach(0), d->size) : iterator();
}

bool operator==(const RowColumns &a, const RowColumns &b)
{
    if (a.d == b.d)
        return true;
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.d->codes()[i] != b.d->codes()[i] || a.d->values()[i] != b.d->values()[i])
            return false;
    }
    return true;
}

QDataStream &operator<<(QDataStream &out, const RowColumns &columns)
{
    out << quint32(columns.size());
    for (auto it = columns.begin(); it != columns.end(); ++it)
        out << it.key() << it.value();
    return out;
}

QDataStream &operator>>(QDataStream &in, RowColumns &columns)
{
    QMap<QString, QVariant> map;
    in >> map;
    columns = RowColumns(map);
    return in;
}

QDebug operator<<(QDebug debug, const RowColumns &columns)
{
    return debug << columns.toMap();
}

// --- Contact -----------------------------------------------------------------------------------------------------

DataRow Contact::firstRow(int type) const
{
    const auto it = entities.constFind(type);
    if (it == entities.constEnd() || it->isEmpty())
        return {};
    return it->first();
}

int Contact::rowCount() const
{
    int n = 0;
    for (const QList<DataRow> &list : entities)
        n += list.size();
    return n;
}

namespace {

using Table = QMap<int, QString>;

std::array<Table, 9> buildTables()
{
    std::array<Table, 9> t;
    t[int(LabelFamily::Phone)] = {
        {0, u"Other"_s},        {1, u"Home"_s},          {2, u"Mobile"_s},     {3, u"Work"_s},
        {4, u"Work Fax"_s},     {5, u"Home Fax"_s},      {6, u"Pager"_s},      {8, u"Callback"_s},
        {9, u"Car"_s},          {10, u"Company Main"_s}, {11, u"ISDN"_s},      {12, u"Main"_s},
        {13, u"Other Fax"_s},   {14, u"Radio"_s},        {15, u"Telex"_s},     {16, u"TTY TDD"_s},
        {17, u"Work Mobile"_s}, {18, u"Work Pager"_s},   {19, u"Assistant"_s}, {20, u"MMS"_s}};
    t[int(LabelFamily::Email)] = {{0, u"Other"_s}, {1, u"Home"_s}, {2, u"Work"_s}, {4, u"Mobile"_s}};
    t[int(LabelFamily::Event)] = {{0, u"Other"_s}, {1, u"Anniversary"_s}, {3, u"Birthday"_s}};
    t[int(LabelFamily::ImType)] = {{0, u"Other"_s}, {1, u"Home"_s}, {2, u"Work"_s}};
    t[int(LabelFamily::ImProtocol)] = {{0, u"Other"_s},       {1, u"AIM"_s},        {2, u"MSN"_s},
                                       {3, u"Yahoo"_s},       {4, u"Skype"_s},      {5, u"QQ"_s},
                                       {6, u"Google Talk"_s}, {7, u"ICQ"_s},        {8, u"Jabber"_s},
                                       {9, u"Net Meeting"_s}, {10, u"Gadu Gadu"_s}, {11, u"Facebook"_s}};
    t[int(LabelFamily::Organization)] = {{0, u"Other"_s}, {1, u"Work"_s}};
    t[int(LabelFamily::Relation)] = {
        {0, u"Other"_s},    {1, u"Assistant"_s},    {2, u"Brother"_s},   {3, u"Child"_s},   {4, u"Domestic Partner"_s},
        {5, u"Father"_s},   {6, u"Friend"_s},       {7, u"Manager"_s},   {8, u"Mother"_s},  {9, u"Parent"_s},
        {10, u"Partner"_s}, {11, u"Referred by"_s}, {12, u"Relative"_s}, {13, u"Sister"_s}, {14, u"Spouse"_s}};
    t[int(LabelFamily::Address)] = {{0, u"Other"_s}, {1, u"Home"_s}, {2, u"Work"_s}};
    t[int(LabelFamily::Website)] = {{0, u"Other"_s}, {1, u"Home page"_s}, {2, u"Blog"_s}, {3, u"Profile"_s},
                                    {4, u"Home"_s},  {5, u"Work"_s},      {6, u"FTP"_s}};
    return t;
}

std::array<QStringList, 14> buildColumns()
{
    const QStringList three{u"data1"_s, u"data2"_s, u"data3"_s};
    std::array<QStringList, 14> c;
    for (int i = 1; i <= 8; ++i)
        c[ENTITY_NAME] << u"data%1"_s.arg(i);
    c[ENTITY_PHOTO] = {u"data4"_s, u"data15"_s};
    c[ENTITY_PHONE] = c[ENTITY_EMAIL] = c[ENTITY_NICKNAME] = c[ENTITY_EVENT] = c[ENTITY_RELATION] = c[ENTITY_WEBSITE] =
        three;
    c[ENTITY_GROUP] = {u"data1"_s, u"data2"_s};
    c[ENTITY_IM] = {u"data1"_s, u"data2"_s, u"data3"_s, u"data5"_s, u"data6"_s};
    c[ENTITY_NOTE] = {u"data1"_s};
    c[ENTITY_ORGANIZATION] = {u"data1"_s, u"data2"_s, u"data3"_s, u"data4"_s,
                              u"data5"_s, u"data6"_s, u"data7"_s, u"data9"_s};
    for (int i = 1; i <= 11; ++i)
        c[ENTITY_ADDRESS] << u"data%1"_s.arg(i);
    return c;
}

QString summary(int type, const DataRow &row, bool html)
{
    const auto esc = [html](const QString &s) { return html ? s.toHtmlEscaped() : s; };
    const std::optional<LabelFamily> family = labelFamilyOf(type);
    const QString lbl = family ? esc(label(*family, row)) : QString();
    switch (type) {
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
        return u"%1:%2"_s.arg(lbl, esc(row.text(u"data1"_s)));
    case ENTITY_IM:
        return u"%1:%2(%3)"_s.arg(lbl, esc(row.text(u"data1"_s)), esc(label(LabelFamily::ImProtocol, row)));
    case ENTITY_ORGANIZATION: {
        QString text = row.text(u"data4"_s);
        for (const QString &col : {u"data5"_s, u"data1"_s}) {
            const QString part = row.text(col);
            if (!part.isEmpty())
                text += u' ' + part;
        }
        return u"%1:%2"_s.arg(lbl, esc(text.trimmed()));
    }
    case ENTITY_ADDRESS:
        return u"<b>%1</b><br/>%2"_s.arg(lbl, esc(addressText(row)).replace(u'\n', u"<br/>"_s));
    case ENTITY_NOTE:
        return esc(row.text(u"data1"_s));
    default:
        // Name, photo, nickname and group rows are never listed line by line.
        return {};
    }
}

} // namespace

std::optional<LabelFamily> labelFamilyOf(int type)
{
    switch (type) {
    case ENTITY_PHONE:
        return LabelFamily::Phone;
    case ENTITY_EMAIL:
        return LabelFamily::Email;
    case ENTITY_EVENT:
        return LabelFamily::Event;
    case ENTITY_IM:
        return LabelFamily::ImType;
    case ENTITY_ORGANIZATION:
        return LabelFamily::Organization;
    case ENTITY_RELATION:
        return LabelFamily::Relation;
    case ENTITY_ADDRESS:
        return LabelFamily::Address;
    case ENTITY_WEBSITE:
        return LabelFamily::Website;
    default:
        return std::nullopt;
    }
}

const QMap<int, QString> &labelTable(LabelFamily family)
{
    static const std::array<Table, 9> tables = buildTables();
    return tables[int(family)];
}

QString label(LabelFamily family, const DataRow &row)
{
    const bool protocol = family == LabelFamily::ImProtocol;
    const QString custom = row.text(protocol ? u"data6"_s : u"data3"_s);
    if (!custom.isEmpty())
        return custom;
    // An absent or non-numeric code reads as 0, like any integer conversion of text.
    const int code = row.text(protocol ? u"data5"_s : u"data2"_s).toInt();
    return labelTable(family).value(code);
}

const QStringList &storedColumns(int type)
{
    static const std::array<QStringList, 14> columns = buildColumns();
    static const QStringList none;
    return isEntityType(type) ? columns[type] : none;
}

void addRowsById(RowsByType &into, const RowsByType &more)
{
    for (auto it = more.cbegin(); it != more.cend(); ++it) {
        QList<DataRow> &rows = into[it.key()];
        for (const DataRow &row : it.value()) {
            const auto same =
                std::find_if(rows.begin(), rows.end(), [&row](const DataRow &r) { return r._id == row._id; });
            if (same != rows.end())
                *same = row;
            else
                rows.append(row);
        }
    }
}

bool rowsEqual(const DataRow &a, const DataRow &b, const QStringList &columns)
{
    for (const QString &col : columns) {
        const QVariant va = a.value(col);
        QVariant vb = b.value(col);
        if (!va.isValid() || !vb.isValid()) {
            if (va.isValid() != vb.isValid())
                return false;
            continue;
        }
        if (va.metaType() != vb.metaType() && !vb.convert(va.metaType()))
            return false;
        if (va != vb)
            return false;
    }
    return true;
}

bool valueEmpty(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QByteArray)
        return value.toByteArray().isEmpty();
    return value.toString().isEmpty();
}

bool rowEmpty(const DataRow &row, const QStringList &columns)
{
    for (const QString &col : columns) {
        if (!valueEmpty(row.value(col)))
            return false;
    }
    return true;
}

QString displayName(const DataRow &nameRow)
{
    QString name = nameRow.text(u"data5"_s);
    for (const QString &col : {u"data2"_s, u"data4"_s, u"data3"_s, u"data6"_s}) {
        const QString part = nameRow.text(col);
        if (!part.isEmpty())
            name += u' ' + part;
    }
    return name.trimmed();
}

QString addressText(const DataRow &addressRow)
{
    const QString city = addressRow.text(u"data7"_s);
    const QString region = addressRow.text(u"data8"_s);
    const QString postcode = addressRow.text(u"data9"_s);
    const QString country = addressRow.text(u"data10"_s);

    QString text = addressRow.text(u"data4"_s);
    // The postcode is shown only on the line of a city or region.
    if (!city.isEmpty() || !region.isEmpty()) {
        text += u'\n';
        if (!city.isEmpty()) {
            text += city;
            if (!region.isEmpty() || !postcode.isEmpty())
                text += u',';
        }
        if (!region.isEmpty())
            text += u' ' + region;
        if (!postcode.isEmpty())
            text += u' ' + postcode;
    }
    if (!country.isEmpty())
        text += u'\n' + country;
    return text.trimmed();
}

QString photoDigest(const DataRow &photoRow)
{
    const QByteArray bytes = photoRow.value(u"data15"_s).toByteArray();
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toBase64());
}

QString summaryLine(int type, const DataRow &row)
{
    return summary(type, row, false);
}

QString summaryLineHtml(int type, const DataRow &row)
{
    return summary(type, row, true);
}

int phonePriority(const DataRow &phoneRow)
{
    switch (phoneRow.text(u"data2"_s).toInt()) {
    case 2:
        return 10; // Mobile
    case 12:
        return 20; // Main
    case 1:
        return 30; // Home
    case 3:
        return 40; // Work
    default:
        return 100;
    }
}

} // namespace pim
