#pragma once

#include <plist/plist.h>

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <utility>

// An owned libplist tree for the simulator: copies copy the tree, the last owner frees it.
class Plist
{
public:
    Plist() = default;
    explicit Plist(plist_t node) : m_node(node) {}
    ~Plist() { plist_free(m_node); }
    Plist(const Plist &other) : m_node(other.m_node ? plist_copy(other.m_node) : nullptr) {}
    Plist(Plist &&other) noexcept : m_node(other.m_node) { other.m_node = nullptr; }
    Plist &operator=(Plist other) noexcept
    {
        std::swap(m_node, other.m_node);
        return *this;
    }

    plist_t get() const { return m_node; }
    bool isNull() const { return !m_node; }
    // Gives the tree away (to a container that takes it).
    plist_t release()
    {
        plist_t n = m_node;
        m_node = nullptr;
        return n;
    }

    static Plist dict() { return Plist(plist_new_dict()); }
    static Plist array() { return Plist(plist_new_array()); }
    // Parses XML or binary; the null value when the bytes are neither.
    static Plist parse(const QByteArray &bytes);

    QByteArray toXml() const;
    QByteArray toBinary() const;

private:
    plist_t m_node = nullptr;
};

namespace simplist {

plist_t str(const QString &s);
plist_t unum(quint64 v);
plist_t boolean(bool b);
plist_t data(const QByteArray &bytes);

// Reading a node of any tree; wrong kinds give empty values.
// A date node of the instant, and a date node's instant (UTC; invalid for another node), for any year.
plist_t newDate(const QDateTime &at);
QDateTime dateValue(plist_t node);
bool isString(plist_t node);
QString string(plist_t node);
quint64 uintValue(plist_t node, bool *ok = nullptr);
bool boolValue(plist_t node, bool *ok = nullptr);
QByteArray dataValue(plist_t node);
plist_t item(plist_t dict, const char *key);
QString stringItem(plist_t dict, const char *key);
QStringList keys(plist_t dict);

// A message array: a first string (its name) plus items, appended in order (taken by the array).
Plist message(const char *name, std::initializer_list<plist_t> items = {});
// The name of a message array: its first element when it is a string; empty otherwise.
QString messageName(plist_t node);

// Property-list values as JSON, for the store and the transcript: strings, booleans, unsigned integers, arrays and
// dictionaries map to JSON directly; a real is {"$real": x}, a date {"$date": "2001-01-01T00:00:00.000Z"} (UTC), a
// data value {"$data": Base64}, a UID {"$uid": n}, a dictionary key as its text.
QJsonValue toJson(plist_t node);
// The reverse; numbers must be whole and not negative. Null (and an error text) on anything else.
Plist fromJson(const QJsonValue &value, QString *error);

} // namespace simplist
