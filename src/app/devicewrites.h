#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QString>

class LocalDb;
class _DBItemNode;

// The writes to a phone that the window's device links carry out for the controllers. Each runs behind the
// progress dialog; when it fails or is cancelled the phone is loaded again, so that its node shows what the phone
// holds rather than what the cache was told.
class DeviceWrites
{
public:
    virtual ~DeviceWrites() = default;

    // Sends to an iPhone what the caller already applied to its cache: one contact's change records and/or the
    // deletion of contacts. False when not sent (the iPhone has then been reloaded).
    virtual bool sendIosChanges(const QString &udid, LocalDb *cache, const pim::Contact &contact,
                                const QList<pim::ChangeRecord> &changes, const QList<pim::Contact> &toDelete) = 0;
    // Sends the deletion of contacts already deleted from an Android node's cache. False when not sent.
    virtual bool sendAndroidDeletion(_DBItemNode *node, const QList<pim::Contact> &contacts) = 0;
    // Rebuild a device node's cache from its phone; the node is replaced.
    virtual void reloadAndroidDevice(_DBItemNode *node) = 0;
    virtual void reloadIosDevice(_DBItemNode *node) = 0;
};
