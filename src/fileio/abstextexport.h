#pragma once

#include "fileio/absexport.h"

#include <QHash>
#include <QPair>
#include <QSet>
#include <QStringList>

// The base of the column-oriented exporters (CSV, text): header() collects the columns that the contacts
// fill and sorts them by rank; exportContact() flattens one contact into one cell per column. The concrete
// exporter encodes the header line and the rows.
class AbsTextExport : public AbsExport
{
public:
    QByteArray header(const QList<pim::Contact> &contacts) override;
    QByteArray exportContact(const pim::Contact &contact) override;
    QByteArray footer() override { return {}; }
    // The columns can be collected a batch at a time: scan() each batch, then header() with an empty list.
    bool scansFirst() const override { return true; }
    void scan(const QList<pim::Contact> &contacts) override;

    // The columns in order, as header() laid them out.
    const QStringList &columns() const { return m_columns; }

    // The (column name, value) pairs of a contact's rows in row order: "First Name", "Tel:Mobile",
    // "Addr:Home:City", … Name, organization and address parts only when not empty; photos give none.
    static QList<QPair<QString, QString>> cells(const pim::Contact &contact);
    // Sort rank of a column name: "Prefix" 10 … "Notes" 800, any other name 1000.
    static int columnRank(const QString &name);

protected:
    virtual QByteArray formatHeader(const QStringList &titles) = 0;
    virtual QByteArray formatRow(const QStringList &cells) = 0;

private:
    QStringList m_columns;
    QSet<QString> m_seen; // columns met by scan() or header(), in m_columns in the order first met
    QHash<QString, qsizetype> m_position;
};
