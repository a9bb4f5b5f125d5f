#pragma once

#include "contacts/pim.h"

#include <QList>

class QPagedPaintDevice;
class QPainter;
class QRect;

// Contacts laid out as printed cards, eight to a page in two columns of four: each card shows the photo (or
// the default picture), the name, the organization, the birthday, the phones most important first, the first
// e-mail address and the first address. Paints on any paged device (a printer, a PDF writer) and needs no
// widget, so the print preview and the PDF export share it.
class ContactsPrinter
{
public:
    explicit ContactsPrinter(QList<pim::Contact> contacts = {});

    void setContacts(const QList<pim::Contact> &contacts) { m_contacts = contacts; }
    const QList<pim::Contact> &contacts() const { return m_contacts; }

    // A4, portrait, 20 points of margin on every side.
    static void setUpPage(QPagedPaintDevice &device);
    // Paints every card on the device's pages; returns the number of contacts painted.
    int paint(QPagedPaintDevice &device) const;
    // Writes the cards as a PDF file. The file appears only when complete; throws std::runtime_error with the
    // file's error text when it cannot be written. Returns the number of contacts written.
    int writePdf(const QString &path) const;

private:
    void paintCard(QPainter &painter, const QRect &card, const pim::Contact &contact) const;

    QList<pim::Contact> m_contacts;
};
