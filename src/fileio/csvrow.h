#pragma once

#include <QStringList>

class QIODevice;

// Reads one CSV row from the device into fields, byte by byte, each field decoded as UTF-8. A double quote
// opens quoted mode wherever it stands in a field (and is dropped); inside quotes two double quotes give one,
// and commas, carriage returns and line feeds are kept. Outside quotes a carriage return is dropped. With
// atStart set (the header row) a leading UTF-8 byte order mark is skipped.
// Returns true when the row ended with a line feed, false at the end of the device; the fields read up to
// there are appended either way. Throws std::runtime_error with the device's error text when a read fails.
// The separator is a comma unless told otherwise.
// NUL bytes are dropped (no text of a contact holds one, and they would end it early wherever it is used as a C
// string). When the device ends inside a quoted field, *unterminated (when given) is set.
bool utf8CSVRow(QStringList &fields, QIODevice &device, bool atStart, char separator = ',',
                bool *unterminated = nullptr);
