// Property lists (binary and XML) as the backup reader and the iOS link get them: every node visited through
// the value wrapper, keyed archives flattened, and a Manifest.db file description read from the same bytes.

#include "ios/plistcftype.h"
#include "itunes/mbdbparser.h"

#include <cstdint>

namespace {

// Visits the tree through every accessor; depth and node count are bounded, since shared subtrees of a binary
// plist can make a small file a huge tree.
void walk(const PlistCFType &value, int depth, int &budget)
{
    if (depth > 32 || --budget < 0)
        return;
    (void)value.toString();
    (void)value.toByteArray();
    (void)value.toBool();
    (void)value.toUInt64();
    (void)value.toInt();
    (void)value.toShort();
    (void)value.toDouble();
    (void)value.toDateTime();
    (void)value.uid();
    (void)value.toText();
    const int n = value.count();
    if (value.isDict()) {
        for (const PlistCFType &key : value.keys()) {
            walk(value.item(key), depth + 1, budget);
            walk(value.item(key.toString()), depth + 1, budget);
        }
    } else if (value.type() == PlistCFType::TypeArray) {
        for (int i = 0; i < n; ++i)
            walk(value.item(i), depth + 1, budget);
        walk(value.item(n), depth + 1, budget);
        walk(value.item(-1), depth + 1, budget);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const PlistCFType root = PlistCFType::fromData(bytes);
    int budget = 20000;
    walk(root, 0, budget);
    const QHash<QString, PlistCFType> flat = root.archiveRootObject();
    for (auto it = flat.cbegin(); it != flat.cend(); ++it) {
        int inner = 2000;
        walk(it.value(), 0, inner);
    }
    (void)root.toXml();

    BackupFileRecord record;
    MBDBParser::fillFromArchive(bytes, record);
    return 0;
}
