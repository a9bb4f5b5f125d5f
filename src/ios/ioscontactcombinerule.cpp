#include "ios/ioscontactcombinerule.h"

using namespace pim;

// The iOS rule is the local rule except for the four kinds of row where the device's records differ; every
// other answer is the local rule's own.

QStringList IOSContactCombineRule::emptyTestColumns(int type) const
{
    if (type == ENTITY_GROUP)
        return {};
    return LocalDbCombineRule().emptyTestColumns(type);
}

QStringList IOSContactCombineRule::identityColumns(int type) const
{
    switch (type) {
    case ENTITY_GROUP:
        return {};
    case ENTITY_EVENT:
    case ENTITY_RELATION:
        return dataColumns({1, 2});
    case ENTITY_IM:
        return dataColumns({1, 5});
    default:
        return LocalDbCombineRule().identityColumns(type);
    }
}

QStringList IOSContactCombineRule::changeColumns(int type) const
{
    switch (type) {
    case ENTITY_GROUP:
        return {};
    case ENTITY_IM:
        return dataColumns({1, 5, 2, 3});
    default:
        return LocalDbCombineRule().changeColumns(type);
    }
}

QStringList IOSContactCombineRule::mergeColumns(int type, bool &single) const
{
    single = false;
    switch (type) {
    case ENTITY_GROUP:
        return {};
    case ENTITY_IM:
        return dataColumns({1, 5, 2, 3});
    case ENTITY_NOTE:
        single = true;
        return dataColumns({1});
    default:
        return LocalDbCombineRule().mergeColumns(type, single);
    }
}
