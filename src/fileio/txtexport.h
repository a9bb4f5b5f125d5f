#pragma once

#include "fileio/abstextexport.h"

#include <QList>

// Exporter kind 3: a plain-text table, one line per contact, each column left-aligned and padded with spaces
// to its width (street 50, dates 20, web addresses 60, notes 100, everything else 25 characters). A longer
// value is written whole and shifts the rest of its line. Line breaks inside values become spaces.
class TxtExport : public AbsTextExport
{
public:
    // The width of a column by its name.
    static int columnWidth(const QString &name);

protected:
    QByteArray formatHeader(const QStringList &titles) override;
    QByteArray formatRow(const QStringList &cells) override;

private:
    QList<int> m_widths;
};
