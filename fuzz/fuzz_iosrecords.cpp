// The contact records an iPhone sends (a property list: record identifier → record), each read into a contact or
// a data row as the read from the device does, and written back into a batch as a transfer to the device does.
// The record identifiers are also read as keys of a remapping.

#include "ios/iosrecords.h"
#include "ios/plistcftype.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const PlistCFType records =
        PlistCFType::fromData(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!records.isDict())
        return 0;
    PlistCFType batch = PlistCFType::newDict();
    int budget = 2000;
    for (const PlistCFType &key : records.keys()) {
        if (--budget < 0)
            break;
        const QString id = key.toString();
        (void)iosrecords::contactIdOfRemapKey(id);
        (void)iosrecords::rowIdOfRemapKey(id);
        const PlistCFType record = records.item(key);
        (void)iosrecords::contactRefs(record);
        if (iosrecords::entityTypeOfKind(iosrecords::kindOf(record)) == pim::ENTITY_NAME) {
            pim::Contact contact = iosrecords::contactRecordToContact(record, id);
            contact._id = 1;
            iosrecords::contactToRecord(batch, contact);
            continue;
        }
        int type = 0;
        pim::DataRow row;
        if (iosrecords::recordToRow(record, id, &type, &row)) {
            row._id = 2;
            iosrecords::rowToRecord(batch, id, type, -2, row);
        }
    }
    (void)batch.toXml();
    return 0;
}
