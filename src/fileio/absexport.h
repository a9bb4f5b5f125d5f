#pragma once

#include "contacts/pim.h"

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

    // For exports that read their contacts a batch at a time: true when header() depends on the contacts, which
    // are then shown to scan() batch by batch first and header() is called with an empty list.
    virtual bool scansFirst() const { return false; }
    virtual void scan(const QList<pim::Contact> &) {}
};
