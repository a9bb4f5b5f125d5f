#include "fileio/fileformats.h"

#include "fileio/csvexport.h"
#include "fileio/csvimport.h"
#include "fileio/htmlexport.h"
#include "fileio/txtexport.h"
#include "fileio/vcardexport.h"
#include "fileio/vcardimport.h"

#include <QDir>
#include <QFileInfo>

namespace fileio {

const QList<FileFormat> &fileFormats()
{
    static const QList<FileFormat> formats = {
        {"VCard Files(*.vcf)", ".vcf", "vcf", ImportVCard, ExportVCard},
        {"CSV Files(*.csv)", ".csv", "csv", ImportCsv, ExportCsv},
        {"Text Files(*.txt)", ".txt", "txt", 0, ExportText},
        {"HTML files(*.html)", ".html", "html", 0, ExportHtml},
        {"Word files(*.doc)", ".doc", "doc", 0, ExportHtml},
        {"PDF files(*.pdf)", ".pdf", "pdf", 0, 0},
    };
    return formats;
}

bool isPrinted(const FileFormat &format)
{
    return qstrcmp(format.name, "pdf") == 0;
}

const FileFormat *formatNamed(const QString &name)
{
    for (const FileFormat &format : fileFormats())
        if (name == QLatin1String(format.name))
            return &format;
    return nullptr;
}

std::unique_ptr<AbsImport> createImporter(int kind)
{
    switch (kind) {
    case ImportVCard:
        return std::make_unique<VCardImport>();
    case ImportCsv:
        return std::make_unique<CSVImport>();
    default:
        return nullptr;
    }
}

std::unique_ptr<AbsExport> createExporter(int kind, const QString &folder)
{
    switch (kind) {
    case ExportVCard:
        return std::make_unique<VCardExport>();
    case ExportCsv:
        return std::make_unique<CSVExport>();
    case ExportText:
        return std::make_unique<TxtExport>();
    case ExportHtml:
        return std::make_unique<HtmlExport>(folder);
    default:
        return nullptr;
    }
}

ExportTarget exportTarget(int kind, const QString &chosenPath)
{
    const QFileInfo chosen(chosenPath);
    if (kind == ExportHtml)
        return {chosen.absoluteFilePath(), QDir(chosen.absoluteFilePath()).filePath(chosen.fileName()), true};
    return {chosen.absolutePath(), chosen.absoluteFilePath(), false};
}

} // namespace fileio
