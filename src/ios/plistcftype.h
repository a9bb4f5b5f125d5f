#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// One node of a libplist tree, as a value. The node is held by a shared holder that frees it (with its subtree)
// when the last copy goes, if the holder owns it. Values made by the factories own their node; values looked up in
// a container are views into the container's tree and must not outlive it. Inserting a value into a dictionary or
// array hands its node to the container, which keeps the inserted value's holder alive in its child-holder table.
// Every accessor is total: a wrong kind or a missing node gives the stated default.
class PlistCFType
{
public:
    // Type codes; callers compare the numbers.
    enum Type {
        TypeString = 7, // string or dictionary key
        TypeNone = 16,
        TypeDict = 18,
        TypeArray = 19,
        TypeData = 20,
        TypeBool = 21,
        TypeNumber = 22, // unsigned integer or real
        TypeUid = 35,
        TypeDate = 37,
    };

    PlistCFType() = default;
    // Wraps an existing node; owns decides whether the last copy frees it.
    PlistCFType(void *node, bool owns);
    virtual ~PlistCFType();
    PlistCFType(const PlistCFType &) = default;
    PlistCFType &operator=(const PlistCFType &) = default;

    static PlistCFType fromBool(bool value);
    static PlistCFType fromString(const QString &value);
    static PlistCFType fromByteArray(const QByteArray &value);
    // A date node for the instant of value (the null value for an invalid one).
    static PlistCFType fromDateTime(const QDateTime &value);
    // A date node of seconds from 2001-01-01 00:00:00 UTC, any distance from it.
    static PlistCFType fromSeconds(double seconds);
    static PlistCFType newDict();
    static PlistCFType newArray();
    // A binary property list when at least 7 bytes start with "bplist", otherwise XML; the null value when the
    // bytes do not parse.
    static PlistCFType fromData(const QByteArray &data);

    // The node handle (plist_t), null for the null value. Still owned by this value.
    void *node() const { return m_holder ? m_holder->node : nullptr; }
    bool isNull() const { return node() == nullptr; }

    int type() const;
    bool isData() const { return type() == TypeData; }
    bool isDict() const { return type() == TypeDict; }

    QString toString() const;
    QByteArray toByteArray() const;
    bool toBool(bool defaultValue = false) const;
    quint64 toUInt64(quint64 defaultValue = 0) const;
    int toInt(int defaultValue = 0) const;
    short toShort(short defaultValue = 0) const;
    double toDouble(double defaultValue = 0.0) const;
    // A date's instant in local time; a null date-time for any other node.
    QDateTime toDateTime() const;
    // A date's seconds from 2001-01-01 00:00:00 UTC, as the node holds them; *ok false (and 0) for any other node.
    double toSeconds(bool *ok = nullptr) const;
    quint32 uid() const;
    int count() const;
    QString toText() const;

    PlistCFType item(const QString &key) const;
    PlistCFType item(const PlistCFType &key) const;
    PlistCFType item(int index) const;
    QList<PlistCFType> keys() const;
    // Calls visit with every key of a dictionary and its value (a view into this tree), in the dictionary's
    // order, in one pass: item(key) for each of keys() looks every key up again.
    void forEachItem(const std::function<void(const QString &key, const PlistCFType &value)> &visit) const;
    void setItem(const QString &key, const PlistCFType &value);
    void setItem(const PlistCFType &key, const PlistCFType &value);
    void append(const PlistCFType &value);
    // Removes a dictionary's entry (a value obtained from it before must not be used afterwards).
    void removeItem(const QString &key);
    // A deep copy that owns its tree.
    PlistCFType copy() const;
    // Both null, or the same kind and content (compared in the binary form).
    bool sameAs(const PlistCFType &other) const;

    // Flattens a keyed archive ($objects, $top.root): the root object's entries, one UID level resolved.
    QHash<QString, PlistCFType> archiveRootObject() const;

    // The tree serialized as XML, for debug output and tests.
    QByteArray toXml() const;
    // The tree serialized as a binary property list; empty for the null value.
    QByteArray toBinary() const;

private:
    struct Holder
    {
        Holder(void *n, bool o) : node(n), owns(o) {}
        ~Holder();
        Holder(const Holder &) = delete;
        Holder &operator=(const Holder &) = delete;
        void *const node;
        std::atomic<bool> owns; // cleared when a container takes the node; copies may live on other threads
    };
    using PHolder = std::shared_ptr<Holder>;

    // Hands the value's node to this container: the node to insert (a copy when the value's node already sits in
    // a tree), with the value's holder recorded here when the node itself moves.
    void *adopt(const PlistCFType &value);

    PHolder m_holder;
    QHash<void *, PHolder> m_children;
};
