#pragma once

#include "contacts/pim.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// Reads the persons of an iOS address book (AddressBook.sqlitedb of a backup) as contacts, with their photos
// from the images database (AddressBookImages.sqlitedb) when one is open.
//
// Each person becomes a name row, then photo, organization, note, birthday and nickname rows when present, then
// one row per multi-value (phone, e-mail, address, date, IM, URL, related name) in the order of the store.
// Values the importer cannot use (unknown properties, dates that are not numbers) are left out and counted in
// the debug log; NULL columns read as empty text; a multi-value without a label (or whose label row is missing)
// gets the type code 0 and no custom label.
class AddressBookReader
{
public:
    // Both connections stay owned by the caller; images may be null or closed (no photos then).
    AddressBookReader(Sqlite3DB &addressBook, Sqlite3DB *images);

    // Runs the persons query and returns the number of persons. Throws what the database throws.
    int start();
    // The next person as a contact; false after the last. Throws what the database throws.
    bool readNext(pim::Contact &contact);

    // Values left out so far (unknown properties, unusable dates), for the debug log.
    int skippedValues() const { return m_skipped; }
    // Photos that could not be read from the images database (each such person is imported without one).
    int skippedPhotos() const { return m_skippedPhotos; }

    // Seconds since 2001-01-01 00:00:00 UTC as local date-time in ISO 8601 without a zone
    // ("yyyy-MM-ddTHH:mm:ss"); empty for a text that is not a number of a sensible size.
    static QString dateText(const QString &secondsSince2001);

private:
    void addMultiValues(qint64 personId, pim::Contact &contact);
    void fillEntries(qint64 valueId, int property, pim::DataRow &row);

    Sqlite3DB &m_addressBook;
    Sqlite3DB *m_images;
    Sqlite3Cursor m_persons;
    Sqlite3Cursor m_values; // every multi-value, by person id
    bool m_valueCurrent = false;
    QHash<qint64, QList<QPair<QString, QString>>> m_entries; // multi-value id → (key, value) in stored order
    int m_skipped = 0;
    int m_skippedPhotos = 0;
};
