#pragma once

#include "absimport.h"
#include "vcard.h"

// Importer kind 1: a vCard file, every card a record.
class VCardImport : public AbsImport
{
public:
    // Reads and parses the whole file; malformed input ends the card list where the fault is.
    void open(const QString &path) override;
    int count() const override { return int(m_cards.size()); }
    bool hasNext() const override { return m_next < m_cards.size(); }
    void next(pim::Contact &out) override;
    void close() override {}

private:
    QList<vcard::Card> m_cards;
    qsizetype m_next = 0;
};
