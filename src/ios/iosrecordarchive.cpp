#include "ios/iosrecordarchive.h"

#include "contacts/localdb.h"
#include "ios/iosrecords.h"
#include "ios/log.h"

using namespace Qt::StringLiterals;

void IosRecordArchive::ensureTable()
{
    if (m_ready)
        return;
    m_cache.db().executeThrow(
        Sqlite3Sql("create table if not exists ios_record (src_id text primary key not null, record blob)"));
    m_ready = true;
}

void IosRecordArchive::put(const QString &id, const PlistCFType &record)
{
    if (id.isEmpty() || !record.isDict())
        return;
    ensureTable();
    Sqlite3Sql sql("insert or replace into ios_record (src_id, record) values (?, ?)");
    sql.addTextParam(id);
    sql.addBlobParam(record.toBinary());
    m_cache.db().executeThrow(sql);
}

PlistCFType IosRecordArchive::get(const QString &id)
{
    if (id.isEmpty())
        return PlistCFType();
    ensureTable();
    Sqlite3Sql sql("select record from ios_record where src_id=?");
    sql.addTextParam(id);
    Sqlite3Cursor cursor = m_cache.db().queryThrow(sql);
    if (!cursor.moveNext())
        return PlistCFType();
    const PlistCFType record = PlistCFType::fromData(cursor.getBlob(0));
    return record.isDict() ? record : PlistCFType();
}

void IosRecordArchive::remove(const QString &id)
{
    ensureTable();
    Sqlite3Sql sql("delete from ios_record where src_id=?");
    sql.addTextParam(id);
    m_cache.db().executeThrow(sql);
}

void IosRecordArchive::keepSent(const PlistCFType &batch, const PlistCFType &mapping)
{
    for (const PlistCFType &key : batch.keys()) {
        const QString id = key.toString();
        const PlistCFType sent = batch.item(id);
        if (!sent.isDict()) {
            remove(id); // "___EmptyParameterString___": deleted on the phone
            continue;
        }
        const QString phoneId = mapping.item(id).isNull() ? id : mapping.item(id).toString();
        PlistCFType kept = sent.copy();
        if (sent.item(u"image"_s).toString() == QLatin1String(iosrecords::kImageUnchangedMarker)) {
            const PlistCFType before = get(id); // the view below lives in its tree
            const PlistCFType image = before.item(u"image"_s);
            if (image.isNull())
                kept.removeItem(u"image"_s);
            else
                kept.setItem(u"image"_s, image.copy());
        }
        put(phoneId, kept);
    }
}

void IosRecordArchive::storeNewRowIds(const PlistCFType &mapping)
{
    for (const PlistCFType &key : mapping.keys()) {
        const qint64 rowId = iosrecords::rowIdOfRemapKey(key.toString());
        if (rowId <= 0)
            continue;
        const QString recordId = mapping.item(key).toString();
        qCDebug(lcIosSync, "IOS Sync, ent:%s => %s", qUtf8Printable(key.toString()), qUtf8Printable(recordId));
        m_cache.setRowSrcId(rowId, recordId);
    }
}
