#pragma once

#include "fileio/absexport.h"

// Exporter kind 1: one vCard 3.0 card per contact, nothing before or after.
class VCardExport : public AbsExport
{
public:
    QByteArray header(const QList<pim::Contact> &) override { return {}; }
    QByteArray exportContact(const pim::Contact &contact) override;
    QByteArray footer() override { return {}; }
};
