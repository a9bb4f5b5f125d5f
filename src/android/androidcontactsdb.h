#pragma once

#include "android/iandroidconnector.h"
#include "contacts/localdb.h"

// The cache of an Android phone: a LocalDb that also carries the shared connection to its phone.
class AndroidContactsDb : public LocalDb
{
public:
    AndroidContactsDb(const QString &path, const PContactCombineRule &rule, const PAndroidConnector &connector);
    ~AndroidContactsDb() override;

    const PAndroidConnector &connector() const { return m_connector; }

private:
    PAndroidConnector m_connector;
};
