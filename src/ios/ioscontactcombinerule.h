#pragma once

#include "contacts/combinerule.h"

// The duplicate rule of iOS cache databases. It differs from the local rule where the device's records differ:
// group memberships are never merged (they are not sent as records), IM rows ignore the custom protocol name,
// events and relations are keyed by date or name together with their type, and a contact keeps one note.
class IOSContactCombineRule : public AbsContactCombineRule
{
public:
    QStringList emptyTestColumns(int type) const override;
    QStringList identityColumns(int type) const override;
    QStringList changeColumns(int type) const override;
    QStringList mergeColumns(int type, bool &single) const override;
};
