#pragma once

// What the two writing threads share: opening a restore session on the phone, and storing the ids the phone
// gives to rows it created.

#include "android/syncprotocol.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>

class IAndroidConnector;
class LocalDb;
class QTcpSocket;

namespace restoresession {

// Asks the phone for a restore session on the port and connects to it (15 s at most).
void open(QTcpSocket &socket, IAndroidConnector &connector, int port);

// Sends "$batch:", the body lines ("$ent:"/"$del:"/"$ungroup:" lines as (command, argument), not flushed) and
// "$end:".
void sendBatch(QTcpSocket &socket, const QList<QPair<const char *, QString>> &body);

// Row remap: the phone's new id becomes the src_id of the local row named by each item. Only rows this batch
// sent in the local form are touched: an item naming any other row would overwrite a row the phone never
// answered for. Returns how many rows were updated.
int applyRowRemap(LocalDb &db, const QList<simpleprotocol::RemapItem> &items, const QSet<qint64> &sentLocalRows);

// Full remap of new contacts: for an item whose parts name a contact sent in this batch (contact _id → its name
// row _id), both the contact's and the name row's src_id become the new id. Returns contact _id → new id.
QHash<qint64, QString> applyContactRemap(LocalDb &db, const QList<simpleprotocol::RemapItem> &items,
                                         const QHash<qint64, qint64> &sentContacts);

} // namespace restoresession
