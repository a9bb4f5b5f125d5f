#pragma once

#include "absimport.h"
#include "vcard.h"

// Importer kind 1: a vCard file, every card a record.
class VCardImport : public AbsImport
{
public:
    // Reads the whole file and turns every card into its contact; a malformed line costs that line only.
    void open(const QString &path) override;
    int count() const override { return int(m_contacts.size()); }
    bool hasNext() const override { return m_next < m_contacts.size(); }
    void next(pim::Contact &out) override;
    void close() override {}
    int skippedLines() const override { return m_skippedLines; }

private:
    QList<pim::Contact> m_contacts;
    qsizetype m_next = 0;
    int m_skippedLines = 0;
};
