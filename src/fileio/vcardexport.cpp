#include "fileio/vcardexport.h"

#include "fileio/vcard.h"

QByteArray VCardExport::exportContact(const pim::Contact &contact)
{
    return vcard::cardBytes(vcard::cardFromContact(contact));
}
