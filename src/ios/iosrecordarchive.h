#pragma once

#include "ios/plistcftype.h"

#include <QString>

class LocalDb;

// The records of an iPhone as it last gave or took them, kept next to its cache (a table of the cache
// database). The phone drops every key a Contact record it is sent does not carry, and the rows keep only
// part of a record (no "display as company", no reading of the middle name, the exact instant of a date), so
// a record written back starts from the phone's own and changes only what the user changed.
class IosRecordArchive
{
public:
    explicit IosRecordArchive(LocalDb &cache) : m_cache(cache) {}

    // Keeps the record under the phone's identifier (replacing what was kept under it).
    void put(const QString &id, const PlistCFType &record);
    // The record kept under the identifier; the null value when there is none.
    PlistCFType get(const QString &id);
    void remove(const QString &id);
    // After a batch went to the phone: keeps each record as the phone now holds it, under the identifier the
    // phone gave it (mapping: temporary identifier → the phone's), with the phone's photo where the batch
    // said it did not change; forgets the records the batch deleted.
    void keepSent(const PlistCFType &batch, const PlistCFType &mapping);
    // Stores the identifiers the phone gave rows sent under a temporary one ("type/contact record id/-row _id")
    // as those rows' source ids in the cache.
    void storeNewRowIds(const PlistCFType &mapping);

private:
    void ensureTable();

    LocalDb &m_cache;
    bool m_ready = false;
};
