#include "vcardimport.h"

#include <QFile>

#include <stdexcept>

void VCardImport::open(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(file.errorString().toStdString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw std::runtime_error(file.errorString().toStdString());
    // The cards are mapped as they are read, so the file's bytes and its contacts are all that is held.
    m_contacts = vcard::contactsFromBytes(bytes, &m_skippedLines);
    m_next = 0;
}

void VCardImport::next(pim::Contact &out)
{
    // Handed over rather than copied: its memory (photos) goes with it as the import proceeds.
    out = std::move(m_contacts[m_next]);
    m_contacts[m_next] = pim::Contact();
    ++m_next;
}
