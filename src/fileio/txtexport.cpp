#include "fileio/txtexport.h"

#include <QRegularExpression>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

// Writes the texts padded to their widths, then a line feed, as UTF-8.
QByteArray line(const QStringList &texts, const QList<int> &widths)
{
    QByteArray bytes;
    QTextStream out(&bytes);
    out.setEncoding(QStringConverter::Utf8);
    out.setFieldAlignment(QTextStream::AlignLeft);
    for (qsizetype i = 0; i < texts.size(); ++i) {
        out.setFieldWidth(i < widths.size() ? widths.at(i) : 0);
        out << texts.at(i);
    }
    out.setFieldWidth(0);
    out << '\n';
    out.flush();
    return bytes;
}

} // namespace

int TxtExport::columnWidth(const QString &name)
{
    if (name.startsWith(u"Addr:") && name.endsWith(u":Street"))
        return 50;
    if (name.startsWith(u"Date:"))
        return 20;
    if (name.startsWith(u"Url:"))
        return 60;
    if (name == u"Notes")
        return 100;
    return 25;
}

QByteArray TxtExport::formatHeader(const QStringList &titles)
{
    m_widths.clear();
    for (const QString &title : titles)
        m_widths.append(columnWidth(title));
    return line(titles, m_widths);
}

QByteArray TxtExport::formatRow(const QStringList &cells)
{
    static const QRegularExpression lineBreak(u"[\r\n]"_s);
    QStringList texts;
    texts.reserve(cells.size());
    for (const QString &cell : cells)
        texts.append(QString(cell).replace(lineBreak, u" "_s));
    return line(texts, m_widths);
}
