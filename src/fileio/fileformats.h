#pragma once

// The contact file formats: which importer and exporter serves which kind, the filters of the file dialogs,
// and where an export writes.

#include "fileio/absexport.h"
#include "fileio/absimport.h"

#include <QList>
#include <QString>

#include <memory>

namespace fileio {

enum ImportKind { ImportVCard = 1, ImportCsv = 2 };
enum ExportKind { ExportVCard = 1, ExportCsv = 2, ExportText = 3, ExportHtml = 4 };

struct FileFormat
{
    const char *filter;    // the file dialog's filter, a translation key: "VCard Files(*.vcf)"
    const char *extension; // appended to a chosen name without suffix: ".vcf"
    const char *name;      // the command line's --format value: "vcf"
    int importKind;        // 0: not imported
    int exportKind;        // 0: not written by the export thread (PDF is printed)
};

// The formats in the order of the export dialog's filters: vCard, CSV, text, HTML, Word, PDF.
const QList<FileFormat> &fileFormats();
// True for the format that is printed (PDF) rather than written by the export thread.
bool isPrinted(const FileFormat &format);
// The format with this --format name, or null.
const FileFormat *formatNamed(const QString &name);

// The importer or exporter of a kind; null for a kind that has none (yet). The HTML exporter writes its other
// files into the folder.
std::unique_ptr<AbsImport> createImporter(int kind);
std::unique_ptr<AbsExport> createExporter(int kind, const QString &folder);

// Where an export of a kind writes for a chosen path. The HTML kind (also used for Word) makes the chosen
// path a folder and writes the file inside it under the chosen file's name; the others write the path itself.
struct ExportTarget
{
    QString folder;
    QString file;
    bool ownFolder = false; // the folder is the export's own (created for it)
};
ExportTarget exportTarget(int kind, const QString &chosenPath);

} // namespace fileio
