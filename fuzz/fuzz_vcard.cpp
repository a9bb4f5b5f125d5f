// vCard files: the byte-level parser fed whole and in two pieces, the card layer, the mapping of every card to a
// contact, and the way back (export of what was read, read again).

#include "fileio/vcard.h"
#include "fileio/vcardparser.h"

#include <QByteArray>

#include <cstdint>

namespace {

void ignoreStart(void *, const char *name, const VCardParam *params)
{
    // Touch every text the parser hands out, so a pointer past its buffer shows.
    volatile size_t sum = qstrlen(name);
    for (const VCardParam *p = params; p->name; ++p)
        sum = sum + qstrlen(p->name) + (p->value ? qstrlen(p->value) : 0);
}

void ignoreValue(void *, const char *bytes, qsizetype length)
{
    volatile char last = length > 0 ? bytes[length - 1] : 0;
    (void)last;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // Fed in two pieces cut at a place the input picks (its first byte).
    VCardParser parser;
    parser.setPropertyStartCallback(ignoreStart);
    parser.setValueCallback(ignoreValue);
    const qsizetype cut = size > 0 ? qsizetype(data[0]) * qsizetype(size) / 256 : 0;
    parser.feed(bytes.constData(), cut, false);
    parser.feed(bytes.constData() + cut, bytes.size() - cut, true);

    const vcard::ParseResult parsed = vcard::parseCards(bytes);
    for (const vcard::Card &card : parsed.cards) {
        for (const vcard::Property &property : card) {
            (void)vcard::valueText(property);
            (void)vcard::splitComponents(vcard::unescapeText(QString::fromLatin1(property.value)), true);
            (void)vcard::eventDate(QString::fromLatin1(property.value.left(64)));
        }
    }

    const QList<pim::Contact> contacts = vcard::contactsFromBytes(bytes);
    const QByteArray exported = vcard::bytesFromContacts(contacts);
    // What the exporter writes, the reader takes back: as many cards as contacts went out.
    const QList<pim::Contact> again = vcard::contactsFromBytes(exported);
    if (again.size() != contacts.size())
        __builtin_trap();
    return 0;
}
