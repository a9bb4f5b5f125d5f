#include "widgets/entitieseditors.h"

#include "core/texts.h"
#include "widgets/contactdisplayer.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

using namespace Qt::StringLiterals;
using pim::DataRow;

namespace {

constexpr int kTypeWidth = 100;
// The address and IM type boxes: as wide as the others, so that "Home" or "Work" shows whole in them.
constexpr int kNarrowTypeWidth = kTypeWidth;

QToolButton *iconButton(const QString &icon, const QString &name, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QLineEdit *lineEdit(const QString &placeholder, const QString &text, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setPlaceholderText(placeholder);
    edit->setText(text);
    return edit;
}

// The code of a stored row's type column (an empty or non-numeric code reads as 0, as labels read it); a custom
// label makes it 0, as the combo box then shows the label.
int storedCode(const DataRow &row, const QString &codeColumn, const QString &labelColumn)
{
    return row.text(labelColumn).isEmpty() ? row.text(codeColumn).toInt() : 0;
}

} // namespace

void collectTypeCombo(const QComboBox *combo, DataRow &row, const QString &codeColumn, const QString &labelColumn)
{
    const QString text = combo->currentText().trimmed();
    // MatchFixedString without MatchCaseSensitive: the whole text, letter case ignored.
    const int index = combo->findText(text, Qt::MatchFixedString);
    const int code = index >= 0 ? combo->itemData(index).toInt() : 0;
    const QString label = index >= 0 ? QString() : text;
    // A choice that means what the row already says (the same custom label, or no label and the same code, an
    // empty code reading as 0) leaves the row's own spelling alone, so that it does not count as a change.
    const QString storedLabel = row.text(labelColumn);
    if (storedLabel.isEmpty() ? label.isEmpty() && row.text(codeColumn).toInt() == code : storedLabel == label)
        return;
    row.setValue(codeColumn, QString::number(code));
    row.setValue(labelColumn, label);
}

// ---------------------------------------------------------------------------------------------------------------

AbsEntitiesEditor::AbsEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                                     int columns, QWidget *parent)
    : QWidget(parent), m_grid(new QGridLayout(this)), m_types(types), m_defaultCode(defaultCode), m_columns(columns)
{
    m_grid->setContentsMargins(0, 0, 0, 0);
    auto *lbCaption = new QLabel(caption, this);
    lbCaption->setObjectName(u"lbCaption"_s);
    m_grid->addWidget(lbCaption, 0, 0, 1, m_columns - 1);
    QToolButton *btnAdd = iconButton(u":/res/add.png"_s, u"btnAdd"_s, this);
    m_grid->addWidget(btnAdd, 0, m_columns - 1);
    connect(btnAdd, &QToolButton::pressed, this, &AbsEntitiesEditor::add);
}

AbsEntitiesEditor::~AbsEntitiesEditor() = default;

QList<DataRow> AbsEntitiesEditor::rows() const
{
    QList<DataRow> result;
    for (const Entry &entry : m_entries)
        result.append(collect(entry));
    return result;
}

QAbstractButton *AbsEntitiesEditor::removeButton(int entry) const
{
    return qobject_cast<QAbstractButton *>(m_entries.at(entry).widgets.last());
}

void AbsEntitiesEditor::add()
{
    appendEntry(newRow());
}

DataRow AbsEntitiesEditor::newRow() const
{
    DataRow row;
    row.setValue(u"data2"_s, QString::number(m_defaultCode));
    return row;
}

void AbsEntitiesEditor::remove()
{
    QObject *button = sender();
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (!m_entries.at(i).widgets.contains(button))
            continue;
        for (QWidget *widget : std::as_const(m_entries[i].widgets)) {
            m_grid->removeWidget(widget);
            widget->hide();
            widget->deleteLater(); // the button that sent the signal is still in its handler
        }
        m_entries.removeAt(i);
        return;
    }
}

void AbsEntitiesEditor::appendEntry(const DataRow &row)
{
    Entry entry = createEntry(row);
    entry.stored = row;
    m_entries.append(entry);
}

int AbsEntitiesEditor::nextGridRow() const
{
    return m_grid->rowCount();
}

QAbstractButton *AbsEntitiesEditor::createRemoveButton()
{
    QToolButton *button = iconButton(u":/res/remove.png"_s, u"btnRemove"_s, this);
    connect(button, &QToolButton::pressed, this, &AbsEntitiesEditor::remove);
    return button;
}

QComboBox *AbsEntitiesEditor::createTypeCombo(const QMap<int, QString> &types, int code, const QString &custom,
                                              int width)
{
    auto *combo = new QComboBox(this);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert); // a typed label is a custom label, not a new item
    for (auto it = types.cbegin(); it != types.cend(); ++it)
        combo->addItem(it.value(), it.key());
    const int index = combo->findData(code);
    combo->setCurrentIndex(index >= 0 ? index : 0);
    if (!custom.isEmpty())
        combo->setEditText(custom);
    combo->setFixedSize(width, combo->sizeHint().height());
    return combo;
}

// ---------------------------------------------------------------------------------------------------------------

GenericEntitiesEditor::GenericEntitiesEditor(const QString &caption, const QString &placeholder,
                                             const QMap<int, QString> &types, int defaultCode, QWidget *parent)
    : AbsEntitiesEditor(caption, types, defaultCode, 3, parent), m_placeholder(placeholder)
{
}

AbsEntitiesEditor::Entry GenericEntitiesEditor::createEntry(const DataRow &row)
{
    Entry entry;
    const int gridRow = nextGridRow();
    entry.type = createTypeCombo(m_types, storedCode(row, u"data2"_s, u"data3"_s), row.text(u"data3"_s), kTypeWidth);
    entry.value = lineEdit(m_placeholder, row.text(u"data1"_s), this);
    QAbstractButton *remove = createRemoveButton();
    m_grid->addWidget(entry.type, gridRow, 0);
    m_grid->addWidget(entry.value, gridRow, 1);
    m_grid->addWidget(remove, gridRow, 2);
    entry.widgets = {entry.type, entry.value, remove};
    return entry;
}

DataRow GenericEntitiesEditor::collect(const Entry &entry) const
{
    DataRow row = entry.stored;
    collectTypeCombo(entry.type, row, u"data2"_s, u"data3"_s);
    row.setValue(u"data1"_s, entry.value->text().trimmed());
    return row;
}

// ---------------------------------------------------------------------------------------------------------------

DateEntitiesEditor::DateEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                                       QWidget *parent)
    : AbsEntitiesEditor(caption, types, defaultCode, 3, parent)
{
}

AbsEntitiesEditor::Entry DateEntitiesEditor::createEntry(const DataRow &row)
{
    Entry entry;
    const int gridRow = nextGridRow();
    entry.type = createTypeCombo(m_types, storedCode(row, u"data2"_s, u"data3"_s), row.text(u"data3"_s), kTypeWidth);
    entry.date = new QDateEdit(this);
    entry.date->setDisplayFormat(u"yyyy-MM-dd"_s);
    entry.date->setCalendarPopup(true);
    const QDate stored = ContactDisplayer::eventDate(row);
    if (stored.isValid())
        entry.date->setDate(stored);
    entry.shownDate = entry.date->date();
    QAbstractButton *remove = createRemoveButton();
    m_grid->addWidget(entry.type, gridRow, 0);
    m_grid->addWidget(entry.date, gridRow, 1);
    m_grid->addWidget(remove, gridRow, 2);
    entry.widgets = {entry.type, entry.date, remove};
    return entry;
}

DataRow DateEntitiesEditor::collect(const Entry &entry) const
{
    DataRow row = entry.stored;
    collectTypeCombo(entry.type, row, u"data2"_s, u"data3"_s);
    // A stored date left as it was keeps its own text: rewriting it in another ISO form, or replacing a text the
    // edit could not show, would count as a change the user never made.
    const bool untouchedStored = entry.stored._id != 0 && entry.date->date() == entry.shownDate;
    if (!untouchedStored)
        row.setValue(u"data1"_s, QDateTime(entry.date->date(), QTime(0, 0)).toString(Qt::ISODate));
    return row;
}

// ---------------------------------------------------------------------------------------------------------------

IMEntitiesEditor::IMEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                                   const QMap<int, QString> &protocols, int defaultProtocol, QWidget *parent)
    : AbsEntitiesEditor(caption, types, defaultCode, 4, parent), m_protocols(protocols),
      m_defaultProtocol(defaultProtocol)
{
}

DataRow IMEntitiesEditor::newRow() const
{
    DataRow row = AbsEntitiesEditor::newRow();
    row.setValue(u"data5"_s, QString::number(m_defaultProtocol));
    return row;
}

AbsEntitiesEditor::Entry IMEntitiesEditor::createEntry(const DataRow &row)
{
    Entry entry;
    const int gridRow = nextGridRow();
    entry.type =
        createTypeCombo(m_types, storedCode(row, u"data2"_s, u"data3"_s), row.text(u"data3"_s), kNarrowTypeWidth);
    entry.protocol =
        createTypeCombo(m_protocols, storedCode(row, u"data5"_s, u"data6"_s), row.text(u"data6"_s), kTypeWidth);
    entry.value = lineEdit(QString(), row.text(u"data1"_s), this);
    QAbstractButton *remove = createRemoveButton();
    m_grid->addWidget(entry.type, gridRow, 0);
    m_grid->addWidget(entry.protocol, gridRow, 1);
    m_grid->addWidget(entry.value, gridRow, 2);
    m_grid->addWidget(remove, gridRow, 3);
    entry.widgets = {entry.type, entry.protocol, entry.value, remove};
    return entry;
}

DataRow IMEntitiesEditor::collect(const Entry &entry) const
{
    DataRow row = entry.stored;
    collectTypeCombo(entry.type, row, u"data2"_s, u"data3"_s);
    collectTypeCombo(entry.protocol, row, u"data5"_s, u"data6"_s);
    row.setValue(u"data1"_s, entry.value->text().trimmed());
    return row;
}

// ---------------------------------------------------------------------------------------------------------------

AddrEntitiesEditor::AddrEntitiesEditor(const QString &caption, const QMap<int, QString> &types, int defaultCode,
                                       QWidget *parent)
    : AbsEntitiesEditor(caption, types, defaultCode, 4, parent)
{
}

QLineEdit *AddrEntitiesEditor::partEdit(int entry, const QString &column) const
{
    const Entry &e = m_entries.at(entry);
    if (column == u"data10"_s)
        return e.country;
    if (column == u"data8"_s)
        return e.state;
    if (column == u"data7"_s)
        return e.city;
    if (column == u"data9"_s)
        return e.postcode;
    return nullptr;
}

AbsEntitiesEditor::Entry AddrEntitiesEditor::createEntry(const DataRow &row)
{
    Entry entry;
    const int gridRow = nextGridRow();
    entry.type =
        createTypeCombo(m_types, storedCode(row, u"data2"_s, u"data3"_s), row.text(u"data3"_s), kNarrowTypeWidth);
    entry.country = lineEdit(trKey("Country"), row.text(u"data10"_s), this);
    entry.state = lineEdit(trKey("State"), row.text(u"data8"_s), this);
    entry.city = lineEdit(trKey("City"), row.text(u"data7"_s), this);
    entry.street = new QPlainTextEdit(this);
    entry.street->setPlainText(row.text(u"data4"_s));
    entry.street->setTabChangesFocus(true);
    entry.street->setMaximumHeight(60);
    entry.postcode = lineEdit(trKey("Postcode"), row.text(u"data9"_s), this);
    QAbstractButton *remove = createRemoveButton();

    m_grid->addWidget(entry.type, gridRow, 0);
    m_grid->addWidget(entry.country, gridRow, 1, 1, 2);
    m_grid->addWidget(remove, gridRow, 3);
    m_grid->addWidget(entry.state, gridRow + 1, 1);
    m_grid->addWidget(entry.city, gridRow + 1, 2);
    m_grid->addWidget(entry.street, gridRow + 2, 1, 1, 2);
    m_grid->addWidget(entry.postcode, gridRow + 3, 1, 1, 2);
    // The remove button stays last: removeButton() finds it there.
    entry.widgets = {entry.type, entry.country, entry.state, entry.city, entry.street, entry.postcode, remove};
    return entry;
}

DataRow AddrEntitiesEditor::collect(const Entry &entry) const
{
    DataRow row = entry.stored;
    collectTypeCombo(entry.type, row, u"data2"_s, u"data3"_s);
    row.setValue(u"data10"_s, entry.country->text().trimmed());
    row.setValue(u"data8"_s, entry.state->text().trimmed());
    row.setValue(u"data7"_s, entry.city->text().trimmed());
    row.setValue(u"data4"_s, entry.street->toPlainText().trimmed());
    row.setValue(u"data9"_s, entry.postcode->text().trimmed());
    row.setValue(u"data1"_s, pim::addressText(row));
    return row;
}
