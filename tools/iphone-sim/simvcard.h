#pragma once

#include "simplist.h"

#include <QByteArray>
#include <QList>

// One card as the phone's records: the Contact record and its Phone Number, Email Address, Street Address, URL,
// IM and Date records ("contact" is set when they are stored).
struct SimVCardContact
{
    Plist contact;
    QList<Plist> others;
};

namespace simvcard {
// A small vCard 2.1/3.0/4.0 reader that fills the simulated phone: N, FN, NICKNAME, ORG, TITLE, NOTE, BDAY, PHOTO
// (Base64), TEL, EMAIL, ADR, URL, IMPP and the X-AIM style IM properties, ANNIVERSARY. Folded lines,
// quoted-printable values and text escapes are understood; anything else is skipped.
QList<SimVCardContact> read(const QByteArray &bytes);
} // namespace simvcard
