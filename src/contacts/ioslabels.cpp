#include "contacts/ioslabels.h"

#include "contacts/pim.h"

#include <QHash>
#include <QList>

#include <utility>

using namespace Qt::StringLiterals;

namespace ioslabels {

namespace {

using Table = QList<std::pair<QString, int>>; // label → code; the first label of a code is the one written

const Table &table(int entityType)
{
    static const QHash<int, Table> tables = {
        {pim::ENTITY_PHONE,
         {{u"_$!<Mobile>!$_"_s, 2},
          {u"_$!<Main>!$_"_s, 12},
          {u"_$!<HomeFAX>!$_"_s, 5},
          {u"_$!<WorkFAX>!$_"_s, 4},
          {u"_$!<Work>!$_"_s, 3},
          {u"_$!<Home>!$_"_s, 1},
          {u"_$!<Pager>!$_"_s, 6},
          {u"_$!<OtherFAX>!$_"_s, 13},
          {u"_$!<Other>!$_"_s, 0},
          {u"iPhone"_s, 2},
          {u"_$!<iPhone>!$_"_s, 2}}},
        {pim::ENTITY_EMAIL, {{u"_$!<Home>!$_"_s, 1}, {u"_$!<Work>!$_"_s, 2}, {u"_$!<Other>!$_"_s, 0}}},
        {pim::ENTITY_ADDRESS, {{u"_$!<Home>!$_"_s, 1}, {u"_$!<Work>!$_"_s, 2}, {u"_$!<Other>!$_"_s, 0}}},
        {pim::ENTITY_IM, {{u"_$!<Home>!$_"_s, 1}, {u"_$!<Work>!$_"_s, 2}, {u"_$!<Other>!$_"_s, 0}}},
        {pim::ENTITY_EVENT, {{u"_$!<Anniversary>!$_"_s, 1}, {u"_$!<Other>!$_"_s, 0}}},
        {pim::ENTITY_WEBSITE,
         {{u"_$!<Home>!$_"_s, 4}, {u"_$!<HomePage>!$_"_s, 1}, {u"_$!<Work>!$_"_s, 5}, {u"_$!<Other>!$_"_s, 0}}},
        {pim::ENTITY_RELATION,
         {{u"_$!<Assistant>!$_"_s, 1},
          {u"_$!<Mother>!$_"_s, 8},
          {u"_$!<Father>!$_"_s, 5},
          {u"_$!<Friend>!$_"_s, 6},
          {u"_$!<Parent>!$_"_s, 9},
          {u"_$!<Partner>!$_"_s, 10},
          {u"_$!<Child>!$_"_s, 3},
          {u"_$!<Manager>!$_"_s, 7},
          {u"_$!<Brother>!$_"_s, 2},
          {u"_$!<Sister>!$_"_s, 13},
          {u"_$!<Spouse>!$_"_s, 14},
          {u"_$!<Other>!$_"_s, 0}}},
    };
    static const Table none;
    const auto it = tables.constFind(entityType);
    return it == tables.constEnd() ? none : *it;
}

// Tokens only read from files: Apple's desktop address book has labels the phone lacks. Never written.
const Table &fileOnlyTable(int entityType)
{
    static const QHash<int, Table> tables = {
        {pim::ENTITY_PHONE, {{u"_$!<AssistantPhone>!$_"_s, 19}}},
    };
    static const Table none;
    const auto it = tables.constFind(entityType);
    return it == tables.constEnd() ? none : *it;
}

// Codes of the other side's types that the phone has no label for, with the closest one it has.
const QHash<int, QHash<int, int>> &nearest()
{
    static const QHash<int, QHash<int, int>> map = {
        // other 7, callback 8, car 9, company main 10, ISDN 11, radio 14, telex 15, TTY 16, work mobile 17,
        // work pager 18, assistant 19, MMS 20
        {pim::ENTITY_PHONE,
         {{7, 0}, {8, 0}, {9, 2}, {10, 12}, {11, 0}, {14, 0}, {15, 0}, {16, 0}, {17, 2}, {18, 6}, {19, 3}, {20, 2}}},
        {pim::ENTITY_EMAIL, {{3, 0}, {4, 0}}},                   // other, mobile
        {pim::ENTITY_ADDRESS, {{3, 0}}},                         // other
        {pim::ENTITY_IM, {{3, 0}}},                              // other
        {pim::ENTITY_EVENT, {{2, 0}}},                           // other
        {pim::ENTITY_WEBSITE, {{2, 1}, {3, 1}, {6, 5}, {7, 0}}}, // blog, profile, FTP, other
        {pim::ENTITY_RELATION, {{4, 10}, {11, 6}, {12, 0}}},     // domestic partner, referred by, relative
    };
    return map;
}

} // namespace

int codeOfLabel(int entityType, const QString &label)
{
    for (const auto &[text, code] : table(entityType))
        if (text == label)
            return code;
    return -1;
}

int codeOfFileLabel(int entityType, const QString &label)
{
    for (const Table *t : {&table(entityType), &fileOnlyTable(entityType)})
        for (const auto &[text, code] : *t)
            if (text.compare(label, Qt::CaseInsensitive) == 0)
                return code;
    return -1;
}

int nearestCode(int entityType, int code)
{
    for (const auto &entry : table(entityType))
        if (entry.second == code)
            return code;
    return nearest().value(entityType).value(code, 0);
}

QString labelOfCode(int entityType, int code)
{
    const int c = nearestCode(entityType, code);
    for (const auto &[text, value] : table(entityType))
        if (value == c)
            return text;
    return QString();
}

QString customLabelText(const QString &label)
{
    if (label.size() > 8 && label.startsWith(u"_$!<"_s) && label.endsWith(u">!$_"_s))
        return label.mid(4, label.size() - 8);
    return label;
}

} // namespace ioslabels
