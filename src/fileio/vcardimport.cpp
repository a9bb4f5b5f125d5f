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
    m_cards = vcard::parseCards(bytes).cards;
    m_next = 0;
}

void VCardImport::next(pim::Contact &out)
{
    out = vcard::contactFromCard(m_cards.at(m_next));
    // The card is not needed again: its memory (photos) goes back as the import proceeds.
    m_cards[m_next] = vcard::Card();
    ++m_next;
}
