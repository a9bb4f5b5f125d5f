#include "android/androidcontactsdb.h"

AndroidContactsDb::AndroidContactsDb(const QString &path, const PContactCombineRule &rule,
                                     const PAndroidConnector &connector)
    : LocalDb(path, rule), m_connector(connector)
{
}

AndroidContactsDb::~AndroidContactsDb() = default;
