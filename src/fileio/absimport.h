#pragma once

#include "contacts/pim.h"

#include <QString>

// A contact file read as a sequence of contacts. open() reads the whole file; next() hands out one contact
// per record. Used once by one import run.
class AbsImport
{
public:
    virtual ~AbsImport() = default;
    // Reads the whole file and splits it into records, positioned before the first one. Throws
    // std::runtime_error with the file's error text when it cannot be read.
    virtual void open(const QString &path) = 0;
    // Number of records found by open().
    virtual int count() const = 0;
    virtual bool hasNext() const = 0;
    // Fills an empty contact from the next record and moves on. A record without a name gives a contact
    // whose full name is empty.
    virtual void next(pim::Contact &out) = 0;
    // Called once when the import ends (after the last record, or on cancel).
    virtual void close() = 0;
    // Lines of the file that open() could not read and left out (no ":", malformed).
    virtual int skippedLines() const { return 0; }
    // What open() could not read, for the user (the part of a damaged file that was left out); empty when the
    // whole file was read.
    virtual QString warning() const { return QString(); }
};
