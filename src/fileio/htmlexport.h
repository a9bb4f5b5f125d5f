#pragma once

#include "fileio/absexport.h"

#include <QString>

// Exporter kind 4 (also the Word file): one XHTML page with a card per contact. Contact photos are saved as
// JPEG files "<contact id>.jpg" in the folder "photos" beside the page; contacts without a usable photo show
// the default picture "photos/contact.png". Every text taken from a contact is HTML-escaped.
class HtmlExport : public AbsExport
{
public:
    // folder: where the page is written; the photos go into its sub-folder "photos".
    explicit HtmlExport(const QString &folder);

    // The page head; creates the photo folder and puts the default picture there unless it is there already.
    // Throws std::runtime_error when the photo folder cannot be made.
    QByteArray header(const QList<pim::Contact> &contacts) override;
    QByteArray exportContact(const pim::Contact &contact) override;
    QByteArray footer() override;

private:
    // The photo's file name in the photo folder, or an empty text when the contact has no usable photo.
    QString savePhoto(const pim::Contact &contact);

    QString m_photoFolder;
    int m_unstored = 0; // contacts without a database id, numbered for their photo files
};
