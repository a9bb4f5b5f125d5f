#include "fileio/csvexport.h"

using namespace Qt::StringLiterals;

QString CSVExport::escape(const QString &value)
{
    QString out = value;
    out.replace(u'"', u"\"\""_s);
    // A carriage return alone does not need quotes: the reader drops it outside quotes anyway.
    if (value.contains(u'"') || value.contains(u',') || value.contains(u'\n'))
        out = u'"' + out + u'"';
    return out;
}

QByteArray CSVExport::formatHeader(const QStringList &titles)
{
    return titles.join(u',').toUtf8() + '\n';
}

QByteArray CSVExport::formatRow(const QStringList &cells)
{
    QStringList escaped;
    escaped.reserve(cells.size());
    for (const QString &cell : cells)
        escaped.append(escape(cell));
    return escaped.join(u',').toUtf8() + '\n';
}
