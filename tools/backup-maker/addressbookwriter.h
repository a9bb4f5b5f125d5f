#pragma once

#include "vcardreader.h"

#include <QList>
#include <QString>

// Writes the two address-book databases of a backup the way iOS lays them out (the tables ABPerson,
// ABMultiValue, ABMultiValueLabel, ABMultiValueEntry, ABMultiValueEntryKey and ABFullSizeImage with their
// iOS column names), in WAL journal mode like the originals. Throws std::runtime_error.
void writeAddressBook(const QString &path, const QList<AbPerson> &people);
void writeAddressBookImages(const QString &path, const QList<AbPerson> &people);
