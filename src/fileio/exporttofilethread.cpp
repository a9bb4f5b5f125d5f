#include "fileio/exporttofilethread.h"

#include "core/datafolder.h"
#include "core/progress.h"
#include "core/texts.h"
#include "fileio/absexport.h"
#include "fileio/fileformats.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

// Why a write failed: the device's text, or the system's when the device has none ("Unknown error" says nothing).
QString failure(const QFileDevice &file, int systemError)
{
    const QString text = file.errorString();
    if (!text.isEmpty() && text != QLatin1String("Unknown error"))
        return text;
    return systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError)) : text;
}

[[noreturn]] void writeFailed(const QString &path, const QFileDevice &file, int systemError)
{
    throw std::runtime_error(trKey("IDS_EXPORT_WRITE_FAILED_%1_%2")
                                 .arg(QDir::toNativeSeparators(path), failure(file, systemError))
                                 .toStdString());
}

void writeAll(QFileDevice &file, const QString &path, const QByteArray &bytes)
{
    errno = 0;
    if (!bytes.isEmpty() && file.write(bytes) != bytes.size())
        writeFailed(path, file, errno);
}

// The output: a new file that replaces the old one only once complete (QSaveFile), or, for a target that is no
// regular file (a device such as /dev/stdout, a pipe), that target written directly with every write checked.
struct Output
{
    explicit Output(const QString &target) : path(target)
    {
        const QFileInfo info(path);
        if (info.exists() && !info.isFile() && !info.isDir())
            direct = std::make_unique<QFile>(path);
        else
            saved = std::make_unique<QSaveFile>(path);
    }
    QFileDevice &device() { return direct ? static_cast<QFileDevice &>(*direct) : *saved; }
    void open(QIODevice::OpenMode mode)
    {
        errno = 0;
        if (!device().open(direct ? mode | QIODevice::Unbuffered : mode))
            writeFailed(path, device(), errno);
    }
    void finish()
    {
        errno = 0;
        const bool done = direct ? direct->flush() && direct->error() == QFileDevice::NoError : saved->commit();
        if (!done)
            writeFailed(path, device(), errno);
        if (direct)
            direct->close();
    }
    void discard()
    {
        if (saved)
            saved->cancelWriting();
        else
            direct->close();
    }

    QString path;
    std::unique_ptr<QFile> direct;
    std::unique_ptr<QSaveFile> saved;
};

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

    Output file(target.file);
    bool createdFolder = false;
    // What a cancelled or failed run leaves: nothing of its own.
    const auto discard = [&] {
        file.discard();
        if (createdFolder)
            QDir(target.folder).removeRecursively();
    };
    try {
        // A contact file written over a database (the source itself, or any other of the data folder) would
        // destroy it.
        if (DataFolder::holds(target.file) || (target.ownFolder && DataFolder::holds(target.folder)))
            throw std::runtime_error(
                trKey("IDS_EXPORT_TARGET_IS_DATABASE_%1").arg(QDir::toNativeSeparators(target.file)).toStdString());
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
        file.open(mode);
        // Contacts without their rows are read a batch at a time: the batch the exporter sees, then dropped.
        constexpr qsizetype kBatch = 500;
        const auto withRows = [this](qsizetype from) {
            QList<pim::Contact> batch = m_contacts.mid(from, kBatch);
            m_readRows(std::span<pim::Contact>(batch.data(), size_t(batch.size())));
            return batch;
        };
        if (m_readRows && exporter->scansFirst()) {
            for (qsizetype from = 0; from < total; from += kBatch) {
                if (progress.stopRequested()) {
                    discard();
                    return;
                }
                exporter->scan(withRows(from));
            }
        }
        writeAll(file.device(), target.file, exporter->header(m_readRows ? QList<pim::Contact>() : m_contacts));
        const auto writeOne = [&](const pim::Contact &contact) {
            ++i;
            progress.updateProgress(trKey("IDS_EXPORTING_CONTACTS_TO_FILE"), ProgressReporter::percent(i, total),
                                    ProgressReporter::contactsText(i, total));
            writeAll(file.device(), target.file, exporter->exportContact(contact));
        };
        for (qsizetype from = 0; from < total; from += m_readRows ? kBatch : total) {
            const QList<pim::Contact> batch = m_readRows ? withRows(from) : QList<pim::Contact>();
            for (const pim::Contact &contact : m_readRows ? batch : std::as_const(m_contacts)) {
                if (progress.stopRequested()) {
                    discard();
                    return;
                }
                writeOne(contact);
            }
        }
        writeAll(file.device(), target.file, exporter->footer());
        // A cancel that came after the last contact still means no file.
        if (progress.stopRequested()) {
            discard();
            return;
        }
        file.finish();
        progress.succeed(trKey("IDS_SUC_EXPORT_%1_CONTACTS_TO_FILE").arg(i));
    } catch (const std::exception &e) {
        discard();
        progress.errorOccurred(QString::fromUtf8(e.what()));
    } catch (...) {
        discard();
        progress.errorOccurred(QString());
    }
}
