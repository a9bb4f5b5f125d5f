#pragma once

// Scores how many fields of contact files come through as the files mean them: each contact becomes a set of
// field lines ("Ana Silva|phone|Mobile|+1 555 0100"), compared with an expectation file that lists the lines a
// reader should produce. A field that is missing, mislabelled or damaged is one line not matched.

#include "contacts/pim.h"

#include <QFile>
#include <QMap>
#include <QSet>
#include <QStringList>

namespace fieldscore {

inline QString escaped(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('|'), QLatin1String("\\|"));
    return text;
}

// The field lines of one contact, in row order.
inline QStringList fields(const pim::Contact &c)
{
    using namespace pim;
    QStringList out;
    const QString who = escaped(c.full_name);
    const auto line = [&](const char *kind, const QString &label, const QString &value) {
        if (!value.isEmpty())
            out.append(who + QLatin1Char('|') + QLatin1String(kind) + QLatin1Char('|') + escaped(label) +
                       QLatin1Char('|') + escaped(value));
    };
    const auto text = [](const DataRow &row, int n) { return row.text(QStringLiteral("data%1").arg(n)); };
    const auto joined = [&](const DataRow &row, std::initializer_list<int> columns) {
        QStringList parts;
        for (int n : columns)
            parts.append(text(row, n));
        while (!parts.isEmpty() && parts.last().isEmpty())
            parts.removeLast();
        return parts.join(QLatin1Char(';'));
    };
    line("name", QString(), c.full_name);
    for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it) {
        for (const DataRow &row : it.value()) {
            switch (it.key()) {
            case ENTITY_NAME:
                line("n", QString(), joined(row, {3, 2, 4, 5, 6}));
                break;
            case ENTITY_PHONE:
                line("phone", label(LabelFamily::Phone, row), text(row, 1));
                break;
            case ENTITY_EMAIL:
                line("email", label(LabelFamily::Email, row), text(row, 1));
                break;
            case ENTITY_NICKNAME:
                line("nickname", QString(), text(row, 1));
                break;
            case ENTITY_EVENT:
                line("date", label(LabelFamily::Event, row), text(row, 1));
                break;
            case ENTITY_GROUP:
                line("group", QString(), text(row, 2));
                break;
            case ENTITY_IM:
                line("im", label(LabelFamily::ImProtocol, row), text(row, 1));
                break;
            case ENTITY_NOTE:
                line("note", QString(), text(row, 1));
                break;
            case ENTITY_ORGANIZATION:
                line("org", QString(), joined(row, {1, 5}));
                line("title", QString(), text(row, 4));
                break;
            case ENTITY_RELATION:
                line("relation", label(LabelFamily::Relation, row), text(row, 1));
                break;
            case ENTITY_ADDRESS:
                line("address", label(LabelFamily::Address, row), joined(row, {5, 6, 4, 7, 8, 9, 10}));
                break;
            case ENTITY_WEBSITE:
                line("url", label(LabelFamily::Website, row), text(row, 1));
                break;
            case ENTITY_PHOTO:
                line("photo", QString(),
                     row.value(QStringLiteral("data15")).toByteArray().isEmpty() ? QString() : QStringLiteral("yes"));
                break;
            default:
                break;
            }
        }
    }
    return out;
}

inline QStringList fields(const QList<pim::Contact> &contacts)
{
    QStringList out;
    for (const pim::Contact &c : contacts)
        out += fields(c);
    return out;
}

struct Score
{
    int expected = 0;
    int matched = 0;
    QStringList missing; // expected lines not produced
    QStringList extra;   // produced lines not expected

    double percent() const { return expected == 0 ? 100.0 : 100.0 * matched / expected; }
    Score &operator+=(const Score &o)
    {
        expected += o.expected;
        matched += o.matched;
        missing += o.missing;
        extra += o.extra;
        return *this;
    }
};

// Lines compared as multisets: a field expected twice must be produced twice.
inline Score compare(const QStringList &expected, const QStringList &actual)
{
    Score score;
    QMap<QString, int> produced;
    for (const QString &line : actual)
        ++produced[line];
    for (const QString &line : expected) {
        ++score.expected;
        if (produced.value(line) > 0) {
            --produced[line];
            ++score.matched;
        } else {
            score.missing.append(line);
        }
    }
    for (auto it = produced.cbegin(); it != produced.cend(); ++it)
        for (int i = 0; i < it.value(); ++i)
            score.extra.append(it.key());
    return score;
}

// An expectation file: "# family: NAME" names the writer's family; "# file: NAME" the contact file; every other
// non-empty line not starting with "#" is a field line.
struct Expectation
{
    QString family;
    QString file;
    QStringList lines;
};

inline Expectation readExpectation(const QString &path)
{
    Expectation e;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return e;
    for (const QString &raw : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("# family:")))
            e.family = line.mid(9).trimmed();
        else if (line.startsWith(QLatin1String("# file:")))
            e.file = line.mid(7).trimmed();
        else if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            e.lines.append(raw.trimmed());
    }
    return e;
}

} // namespace fieldscore
