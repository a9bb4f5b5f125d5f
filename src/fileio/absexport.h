#pragma once

#include "pim.h"

#include <QByteArray>
#include <QList>

// Contacts turned into the bytes of a file: a header, one piece per contact, a footer. Empty bytes mean
// nothing is written.
class AbsExport
{
public:
    virtual ~AbsExport() = default;
    // Written once before the first contact; may depend on all of them.
    virtual QByteArray header(const QList<pim::Contact> &contacts) = 0;
    virtual QByteArray exportContact(const pim::Contact &contact) = 0;
    // Written once after the last contact.
    virtual QByteArray footer() = 0;
};
