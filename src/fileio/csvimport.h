#pragma once

#include "fileio/absimport.h"

#include <QBuffer>
#include <QStringList>

#include <memory>

namespace csv {
struct ColumnPlan;
}

// Importer kind 2: a comma-separated file whose first row names the columns. It understands the program's own
// column names ("First Name", "Tel:Mobile", "Addr:Home:City", …), the names of common address-book exports
// (Outlook's "Home Phone", "Business Street", …; Google's "Given Name", "Phone 1 - Value" with its label, …;
// Thunderbird's "Primary Email", …; German Outlook's "Vorname", "Telefon geschäftlich", …) and ignores any other
// column. Every data row is one record; a file whose header is one field holding semicolons is read as separated
// by semicolons. A file that is not valid UTF-8 is read as Windows-1252. Only the file's text is held: open()
// counts the rows, next() reads each when its contact is asked for.
class CSVImport : public AbsImport
{
public:
    CSVImport();
    ~CSVImport() override;

    void open(const QString &path) override;
    int count() const override { return int(m_count); }
    bool hasNext() const override { return m_next < m_count; }
    void next(pim::Contact &out) override;
    void close() override;
    QString warning() const override { return m_warning; }

private:
    QString m_warning;
    std::unique_ptr<csv::ColumnPlan> m_plan;
    // The file's text as UTF-8, read a row at a time from after the header.
    QBuffer m_data;
    char m_separator = ',';
    qint64 m_firstRow = 0;
    qint64 m_count = 0;
    qint64 m_next = 0;
};
