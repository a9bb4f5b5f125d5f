#pragma once

// Random address books from a seed, drawn from small pools so that books share names and numbers: merging one
// into another meets new contacts, namesakes that gain rows, rows whose kind or label changed, and namesakes
// that bring nothing new.

#include "contacts/pim.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>

namespace randombooks {

inline pim::DataRow fields(std::initializer_list<std::pair<const char *, QString>> values)
{
    pim::DataRow r;
    for (const auto &[column, value] : values)
        r.setValue(QLatin1String(column), value);
    return r;
}

// One contact with a name from a pool of 24 and zero to a few rows of the common types, in kinds that every
// simulated phone keeps as they are sent (home or work e-mail, an organization without a kind).
inline pim::Contact randomContact(QRandomGenerator &random)
{
    static const char *const given[] = {"Anna", "Bert", "Cleo", "Dirk", "Edda", "Fynn", "Gita", "Hugo"};
    static const char *const family[] = {"Abel", "Brand", "Cohen"};
    static const char *const mails[] = {"a@example.org", "b@example.org", "c@example.net", "d@example.com"};
    static const char *const notes[] = {"met at the fair", "call after six"};
    static const char *const companies[] = {"Acme", "Globex"};
    static const char *const titles[] = {"", "Clerk", "Chief"};
    const auto pick = [&random](const auto &pool) {
        return QString::fromUtf8(pool[random.bounded(int(std::size(pool)))]);
    };

    pim::Contact c;
    pim::DataRow name = fields({{"data2", pick(given)}, {"data3", pick(family)}});
    name.setValue(QStringLiteral("data1"), pim::displayName(name));
    c.full_name = name.text(QStringLiteral("data1"));
    c.addRow(pim::ENTITY_NAME, name);
    for (int n = random.bounded(4); n > 0; --n) {
        const int kind = random.bounded(4); // 0: a custom label
        c.addRow(pim::ENTITY_PHONE, fields({{"data1", QStringLiteral("+49 30 555 0%1").arg(random.bounded(6))},
                                            {"data2", QString::number(kind)},
                                            {"data3", kind == 0 ? QStringLiteral("Boat") : QString()}}));
    }
    for (int n = random.bounded(3); n > 0; --n)
        c.addRow(pim::ENTITY_EMAIL,
                 fields({{"data1", pick(mails)}, {"data2", QString::number(1 + random.bounded(2))}}));
    if (random.bounded(3) == 0)
        c.addRow(pim::ENTITY_NOTE, fields({{"data1", pick(notes)}}));
    if (random.bounded(3) == 0)
        c.addRow(pim::ENTITY_ORGANIZATION, fields({{"data1", pick(companies)}, {"data4", pick(titles)}}));
    if (random.bounded(4) == 0)
        c.addRow(pim::ENTITY_WEBSITE,
                 fields({{"data1", QStringLiteral("https://example.org/%1").arg(random.bounded(3))},
                         {"data2", QStringLiteral("7")}}));
    return c;
}

// A book of 1..maxSize contacts.
inline QList<pim::Contact> randomBook(quint32 seed, int maxSize)
{
    QRandomGenerator random(seed);
    QList<pim::Contact> book;
    for (int n = 1 + random.bounded(maxSize); n > 0; --n)
        book.append(randomContact(random));
    return book;
}

} // namespace randombooks
