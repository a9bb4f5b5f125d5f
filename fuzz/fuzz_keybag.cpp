// The keybag of an encrypted backup: its TLV items, the class keys, and unlocking with a password when the
// iteration counts are small enough for a fuzzer (real keybags ask for millions; that is slow, not faulty);
// larger counts go through the refusal of damaged counts and the cancel.

#include "itunes/keybag.h"

#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    Keybag keybag = parseKeybag(bytes);
    for (auto it = keybag.attributes.cbegin(); it != keybag.attributes.cend(); ++it)
        (void)keybagNumber(it.value());

    const int iter = keybagNumber(keybag.attributes.value(QStringLiteral("ITER")));
    const int dpic = keybagNumber(keybag.attributes.value(QStringLiteral("DPIC")));
    if (iter <= 16 && dpic <= 16 && keybag.classKeys.size() <= 16) {
        if (unlockKeybag(QByteArrayLiteral("password"), keybag)) {
            const QByteArray wrapped = bytes.right(40);
            for (auto it = keybag.classKeys.cbegin(); it != keybag.classKeys.cend(); ++it)
                (void)unwrapClassKey(keybag, it.key(), wrapped);
        }
    } else if (keybag.classKeys.size() <= 16) {
        // Larger counts: refused above what iOS writes, otherwise cancelled at the first chance (after 4096
        // rounds), as the window's Cancel does.
        try {
            (void)unlockKeybag(QByteArrayLiteral("password"), keybag, [] { return true; });
        } catch (const std::exception &) {
        }
    }
    return 0;
}
