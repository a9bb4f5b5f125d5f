#pragma once

#include "fileio/abstextexport.h"

// Exporter kind 2: the header row of column names, then one row per contact, as UTF-8 without a byte order
// mark. A value holding a double quote, a comma or a line feed is quoted, its double quotes doubled.
class CSVExport : public AbsTextExport
{
public:
    // One value as it stands in a row.
    static QString escape(const QString &value);

protected:
    QByteArray formatHeader(const QStringList &titles) override;
    QByteArray formatRow(const QStringList &cells) override;
};
