#include "ioscontactcombinerule.h"

using namespace pim;

namespace {

QStringList cols(std::initializer_list<int> numbers)
{
    QStringList list;
    for (int n : numbers)
        list << QStringLiteral("data%1").arg(n);
    return list;
}

} // namespace

QStringList IOSContactCombineRule::emptyTestColumns(int type) const
{
    switch (type) {
    case ENTITY_PHOTO:
        return cols({4});
    case ENTITY_ORGANIZATION:
        return cols({1, 5, 4});
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_NICKNAME:
    case ENTITY_EVENT:
    case ENTITY_IM:
    case ENTITY_NOTE:
    case ENTITY_RELATION:
    case ENTITY_ADDRESS:
    case ENTITY_WEBSITE:
        return cols({1});
    default: // names, groups and unknown types
        return {};
    }
}

QStringList IOSContactCombineRule::identityColumns(int type) const
{
    switch (type) {
    case ENTITY_PHOTO:
        return cols({4});
    case ENTITY_EVENT:
    case ENTITY_RELATION:
        return cols({1, 2});
    case ENTITY_IM:
        return cols({1, 5});
    case ENTITY_ORGANIZATION:
        return cols({1, 5, 4});
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_NICKNAME:
    case ENTITY_NOTE:
    case ENTITY_ADDRESS:
    case ENTITY_WEBSITE:
        return cols({1});
    default:
        return {};
    }
}

QStringList IOSContactCombineRule::changeColumns(int type) const
{
    switch (type) {
    case ENTITY_PHOTO:
        return cols({4});
    case ENTITY_NICKNAME:
    case ENTITY_NOTE:
        return cols({1});
    case ENTITY_IM:
        return cols({1, 5, 2, 3});
    case ENTITY_ORGANIZATION:
        return cols({1, 5, 4});
    case ENTITY_ADDRESS:
        return cols({10, 11, 8, 7, 4, 9, 2, 3});
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
        return cols({1, 2, 3});
    default:
        return {};
    }
}

QStringList IOSContactCombineRule::mergeColumns(int type, bool &single) const
{
    single = false;
    switch (type) {
    case ENTITY_PHOTO:
        single = true;
        return cols({4, 15});
    case ENTITY_NICKNAME:
    case ENTITY_NOTE:
        single = true;
        return cols({1});
    case ENTITY_ORGANIZATION:
        single = true;
        return cols({1, 5, 4});
    case ENTITY_IM:
        return cols({1, 5, 2, 3});
    case ENTITY_ADDRESS:
        return cols({1, 10, 11, 8, 7, 4, 9, 2, 3});
    case ENTITY_PHONE:
    case ENTITY_EMAIL:
    case ENTITY_EVENT:
    case ENTITY_RELATION:
    case ENTITY_WEBSITE:
        return cols({1, 2, 3});
    default:
        return {};
    }
}
