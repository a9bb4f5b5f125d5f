#include "exporttofilethread.h"

#include "absexport.h"
#include "fileformats.h"
#include "progress.h"
#include "texts.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <stdexcept>

namespace {

void writeAll(QSaveFile &file, const QByteArray &bytes)
{
    if (!bytes.isEmpty() && file.write(bytes) == -1)
        throw std::runtime_error(file.errorString().toStdString());
}

} // namespace

ExportToFileThread::ExportToFileThread(QList<pim::Contact> contacts, int kind, const QString &path,
                                       ProgressTarget *progress, QObject *parent)
    : QThread(parent), m_contacts(std::move(contacts)), m_kind(kind), m_path(path), m_progress(progress)
{
}

void ExportToFileThread::run()
{
    const ProgressReporter progress(m_progress);
    const qint64 total = m_contacts.size();
    qint64 i = 0;
    const fileio::ExportTarget target = fileio::exportTarget(m_kind, m_path);
    const std::unique_ptr<AbsExport> exporter = fileio::createExporter(m_kind, target.folder);
    if (!exporter) {
        progress.errorOccurred(QString());
        return;
    }

    QSaveFile file(target.file);
    bool createdFolder = false;
    // What a cancelled or failed run leaves: nothing of its own.
    const auto discard = [&] {
        file.cancelWriting();
        if (createdFolder)
            QDir(target.folder).removeRecursively();
    };
    try {
        if (target.ownFolder && !QFileInfo(target.folder).isDir()) {
            if (!QDir().mkpath(target.folder))
                throw std::runtime_error(QStringLiteral("Cannot create the folder %1.")
                                             .arg(QDir::toNativeSeparators(target.folder))
                                             .toStdString());
            createdFolder = true;
        }
        QIODevice::OpenMode mode = QIODevice::WriteOnly;
        if (m_kind == fileio::ExportText)
            mode |= QIODevice::Text;
        if (!file.open(mode))
            throw std::runtime_error(file.errorString().toStdString());
        writeAll(file, exporter->header(m_contacts));
        for (const pim::Contact &contact : std::as_const(m_contacts)) {
            if (progress.stopRequested()) {
                discard();
                return;
            }
            ++i;
            progress.updateProgress(trKey("IDS_EXPORTING_CONTACTS_TO_FILE"),
                                    ProgressReporter::percent(i, total),
                                    ProgressReporter::contactsText(i, total));
            writeAll(file, exporter->exportContact(contact));
        }
        writeAll(file, exporter->footer());
        // A cancel that came after the last contact still means no file.
        if (progress.stopRequested()) {
            discard();
            return;
        }
        if (!file.commit())
            throw std::runtime_error(file.errorString().toStdString());
        progress.succeed(trKey("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(i));
    } catch (const std::exception &e) {
        discard();
        progress.errorOccurred(QString::fromUtf8(e.what()));
    } catch (...) {
        discard();
        progress.errorOccurred(QString());
    }
}
