// The window's contact-file commands: import a file into a local database, export contacts to a file, print
// contacts.

#include "app/mainwindow.h"

#include "app/contactlistcontroller.h"
#include "app/contactsprintpreview.h"
#include "app/filedialogs.h"
#include "app/itemmodelmaintree.h"
#include "app/log.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/transfercontroller.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "fileio/contactsprinter.h"
#include "fileio/exporttofilethread.h"
#include "fileio/fileformats.h"
#include "fileio/importcontactstolocalthread.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

// The formats a dialog offers: those whose importer (or exporter) is part of the program, in table order.
QList<const fileio::FileFormat *> offeredFormats(bool import)
{
    QList<const fileio::FileFormat *> formats;
    for (const fileio::FileFormat &format : fileio::fileFormats()) {
        const bool available = import ? format.importKind != 0 && fileio::createImporter(format.importKind)
                                      : fileio::isPrinted(format) ||
                                            (format.exportKind != 0 && fileio::createExporter(format.exportKind, {}));
        if (available)
            formats.append(&format);
    }
    return formats;
}

QString filterList(const QList<const fileio::FileFormat *> &formats)
{
    QStringList filters;
    for (const fileio::FileFormat *format : formats)
        filters.append(trKey(format->filter));
    return filters.join(u";;"_s);
}

// The format of the filter the dialog returned; the first offered when it returned none it knows.
const fileio::FileFormat *formatOfFilter(const QList<const fileio::FileFormat *> &formats, const QString &filter)
{
    for (const fileio::FileFormat *format : formats)
        if (trKey(format->filter) == filter)
            return format;
    return formats.isEmpty() ? nullptr : formats.first();
}

void exportToFile(QWidget *parent, const QList<pim::Contact> &contacts)
{
    const QList<const fileio::FileFormat *> formats = offeredFormats(false);
    const QString proposed =
        QDir(QDir::homePath())
            .filePath(u"contacts(%1)"_s.arg(QDateTime::currentDateTime().toString(u"yyyyMMdd-hhmmss"_s)));
    QString selected;
    QString path = FileDialogs::saveFileName(parent, QString(), proposed, filterList(formats), &selected);
    const fileio::FileFormat *format = formatOfFilter(formats, selected);
    if (path.isEmpty() || !format)
        return;
    // The chosen filter decides the format; its extension is added to a name that has none.
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1String(format->extension);
    if (fileio::isPrinted(*format)) {
        // The cards are painted into the PDF on this thread; the file appears only when complete.
        try {
            const int count = ContactsPrinter(contacts).writePdf(path);
            MessageBox::information(parent, trKey("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(count));
        } catch (const std::exception &e) {
            MessageBox::error(parent, MessageBox::escaped(QString::fromUtf8(e.what())));
        }
        return;
    }
    ProgressForm form(trKey("IDS_STARTING_EXPORT_CONTACTS_TO_FILE"), parent);
    ExportToFileThread worker(contacts, format->exportKind, path, &form);
    form.runWorker(&worker);
}

} // namespace

void MainWindow::miImport()
{
    const QList<const fileio::FileFormat *> formats = offeredFormats(true);
    QString selected;
    const QString path = FileDialogs::openFileName(this, QString(), QDir::homePath(), filterList(formats), &selected);
    const fileio::FileFormat *format = formatOfFilter(formats, selected);
    if (path.isEmpty() || !format)
        return;
    // The selected filter decides how the file is read, whatever its extension.
    const QStringList filesBefore = LocalDbFiles::list();
    _DBItemNode *target = m_transfers->selectOrCreateLocalDb(QFileInfo(path).fileName(),
                                                             trKey("Choose a Database for the Imported Contacts"));
    if (!target)
        return;
    // A database made for an import that read nothing (or failed, or was cancelled) goes again.
    const bool created = !filesBefore.contains(target->name);
    const auto makeWorker = [&](LocalDb &db, ProgressTarget *progress) -> std::unique_ptr<QThread> {
        return std::make_unique<ImportContactsToLocalThread>(path, format->importKind, &db, progress);
    };
    m_transfers->importIntoDatabase(target, created, makeWorker, trKey("IDS_STARTING_IMPORT_CONTACTS_FROM_FILE"),
                                    QStringLiteral("import"));
}

void MainWindow::miTreeExport()
{
    exportToFile(this, m_list->nodeContacts());
}

void MainWindow::miContactExport()
{
    exportToFile(this, m_list->selectedContacts());
}

void MainWindow::miFileExport()
{
    exportToFile(this, m_list->commandContacts());
}

void MainWindow::miTreePrint()
{
    ContactsPrintPreview(this).print(m_list->nodeContacts());
}

void MainWindow::miContactPrint()
{
    ContactsPrintPreview(this).print(m_list->selectedContacts());
}

void MainWindow::miFilePrint()
{
    ContactsPrintPreview(this).print(m_list->commandContacts());
}
