#include "app/contactsprintpreview.h"

#include "core/texts.h"
#include "fileio/contactsprinter.h"

#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTimer>

#include <utility>

namespace {

int g_queuedCloses = 0;
QList<ContactsPrintPreview::Shown> g_shown;

} // namespace

ContactsPrintPreview::ContactsPrintPreview(QWidget *parent) : QObject(parent), m_parent(parent)
{
}

void ContactsPrintPreview::print(const QList<pim::Contact> &contacts)
{
    m_contacts = contacts;
    QPrinter printer(QPrinter::ScreenResolution);
    if (!printer.isValid())
        printer.setOutputFormat(QPrinter::PdfFormat);
    ContactsPrinter::setUpPage(printer);

    QPrintPreviewDialog dialog(&printer, m_parent);
    dialog.setFixedSize(900, 700);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(trKey("IDS_PRINT_CONTACTS"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, &ContactsPrintPreview::onPaintRequested);
    if (g_queuedCloses > 0) {
        --g_queuedCloses;
        // The preview renders when the dialog is shown; by the time the event loop runs, its pages exist.
        QTimer::singleShot(0, &dialog, [this, &dialog] {
            const auto *preview = dialog.findChild<QPrintPreviewWidget *>();
            g_shown.append({dialog.windowTitle(), dialog.size(), preview ? preview->pageCount() : 0, m_painted});
            dialog.reject();
        });
    }
    dialog.exec();
}

void ContactsPrintPreview::onPaintRequested(QPrinter *printer)
{
    m_painted = ContactsPrinter(m_contacts).paint(*printer);
}

void ContactsPrintPreview::queueClose()
{
    ++g_queuedCloses;
}

QList<ContactsPrintPreview::Shown> ContactsPrintPreview::takeShown()
{
    return std::exchange(g_shown, {});
}
