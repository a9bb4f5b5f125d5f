#include "vcardexport.h"

#include "vcard.h"

QByteArray VCardExport::exportContact(const pim::Contact &contact)
{
    return vcard::cardBytes(vcard::cardFromContact(contact));
}
