#pragma once

// The list editors of the contact editor: one per kind of multi-valued row (phones, e-mails, dates, IM accounts,
// relations, addresses, websites). Each is a caption, a grid of entries with a type combo box and value fields,
// and an add button; each entry remembers the stored row it was filled from, so that the rows it returns carry
// that row's _id, src_id and the columns the editor does not show.

#include "contacts/pim.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QWidget>

class QAbstractButton;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;

// The part the editors share: the grid with its caption and add button, the entries and their removal.
class AbsEntitiesEditor : public QWidget
{
    Q_OBJECT
public:
    ~AbsEntitiesEditor() override;

    // Appends one entry filled from a stored row.
    virtual void addRow(const pim::DataRow &row) = 0;
    // The current rows, one per entry, in entry order.
    QList<pim::DataRow> rows() const;
    int entryCount() const { return int(m_entries.size()); }

    // The widgets of an entry, for tests and the window: the type combo box, the remove button.
    QComboBox *typeCombo(int entry) const { return m_entries.at(entry).type; }
    QAbstractButton *removeButton(int entry) const;

public Q_SLOTS:
    // Appends an empty entry with the default type.
    void add();
    // Removes the entry whose remove button sent the signal.
    void remove();

protected:
    struct Entry
    {
        pim::DataRow stored;           // the row the entry was filled from; empty for a new entry
        QList<QWidget *> widgets;      // everything the entry put into the grid
        QComboBox *type = nullptr;     // type code (data2) or custom label (data3)
        QComboBox *protocol = nullptr; // IM: protocol code (data5) or custom protocol (data6)
        QLineEdit *value = nullptr;    // data1: number, address, handle, name or URL
        QDateEdit *date = nullptr;
        QDate shownDate; // the date the entry showed when filled
        QLineEdit *country = nullptr, *state = nullptr, *city = nullptr, *postcode = nullptr;
        QPlainTextEdit *street = nullptr;
    };

    AbsEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode, int columns,
                      QWidget *parent);

    // The row add() starts an entry from: the default type.
    virtual pim::DataRow newRow() const;
    // Builds the entry's widgets into the grid from a stored row (newRow() for add()).
    virtual Entry createEntry(const pim::DataRow &row) = 0;
    // The entry's current row.
    virtual pim::DataRow collect(const Entry &entry) const = 0;

    void appendEntry(const pim::DataRow &row);
    // A grid row for the next entry, and the remove button in the last column of it.
    int nextGridRow() const;
    QAbstractButton *createRemoveButton();
    // An editable combo box of a type table: every (code, display name) in ascending code order, the current
    // item the one of the code (else the first), the custom text over it when not empty.
    QComboBox *createTypeCombo(const QMap<int, QString> &types, int code, const QString &custom, int width);

    QGridLayout *m_grid;
    const QMap<int, QString> m_types;
    const int m_defaultCode;
    const int m_columns;
    QList<Entry> m_entries;
};

// Stores the choice of a type combo box into a row: text matching an item (ignoring case) gives that item's code
// and no custom label; any other text gives code 0 with the text as the custom label.
void collectTypeCombo(const QComboBox *combo, pim::DataRow &row, const QString &codeColumn, const QString &labelColumn);

// Phones, e-mails, relations and websites: type combo box, value, remove.
class GenericEntitiesEditor : public AbsEntitiesEditor
{
    Q_OBJECT
public:
    GenericEntitiesEditor(const QString &caption, const QString &placeholder, const QMap<int, QString> &types,
                          int defaultCode, QWidget *parent = nullptr);

    void addRow(const pim::DataRow &row) override { appendEntry(row); }
    QLineEdit *valueEdit(int entry) const { return m_entries.at(entry).value; }

protected:
    Entry createEntry(const pim::DataRow &row) override;
    pim::DataRow collect(const Entry &entry) const override;

private:
    const QString m_placeholder;
};

// Dates: type combo box, date, remove. A stored date the entry shows unchanged is returned as it was stored.
class DateEntitiesEditor : public AbsEntitiesEditor
{
    Q_OBJECT
public:
    DateEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                       QWidget *parent = nullptr);

    void addRow(const pim::DataRow &row) override { appendEntry(row); }
    QDateEdit *dateEdit(int entry) const { return m_entries.at(entry).date; }

protected:
    Entry createEntry(const pim::DataRow &row) override;
    pim::DataRow collect(const Entry &entry) const override;
};

// IM accounts: type combo box, protocol combo box, handle, remove.
class IMEntitiesEditor : public AbsEntitiesEditor
{
    Q_OBJECT
public:
    IMEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                     const QMap<int, QString> &protocols, int defaultProtocol, QWidget *parent = nullptr);

    void addRow(const pim::DataRow &row) override { appendEntry(row); }
    QComboBox *protocolCombo(int entry) const { return m_entries.at(entry).protocol; }
    QLineEdit *handleEdit(int entry) const { return m_entries.at(entry).value; }

protected:
    pim::DataRow newRow() const override;
    Entry createEntry(const pim::DataRow &row) override;
    pim::DataRow collect(const Entry &entry) const override;

private:
    const QMap<int, QString> m_protocols;
    const int m_defaultProtocol;
};

// Addresses, four grid rows each: type, country and remove; state and city; street; postcode. The returned
// row's data1 is the formatted address of its parts.
class AddrEntitiesEditor : public AbsEntitiesEditor
{
    Q_OBJECT
public:
    AddrEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                       QWidget *parent = nullptr);

    void addRow(const pim::DataRow &row) override { appendEntry(row); }
    // The part edits of an entry, by their column ("data10" country, "data8" state, "data7" city, "data9"
    // postcode); the street box is streetEdit.
    QLineEdit *partEdit(int entry, const QString &column) const;
    QPlainTextEdit *streetEdit(int entry) const { return m_entries.at(entry).street; }

protected:
    Entry createEntry(const pim::DataRow &row) override;
    pim::DataRow collect(const Entry &entry) const override;
};
