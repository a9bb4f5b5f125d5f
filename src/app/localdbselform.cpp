#include "app/localdbselform.h"

#include "app/dialogbuttons.h"
#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "widgets/queuedanswers.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QQueue>

namespace {
QQueue<QString> queuedAnswers; // GUI thread only
}

LocalDbSelForm::LocalDbSelForm(QWidget *parent, const QString &suggestedName, const QString &title) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new WinMovable(this);
    setStyleSheet(StyleSheet::load());
    setWindowTitle(title.isEmpty() ? trKey("Select one Database for backup") : title);
    setMinimumWidth(420);

    // The window has no frame, so its title is shown as a label of its own.
    auto *lbTitle = new QLabel(windowTitle(), this);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    auto *lbSelect = new QLabel(trKey("Select current database to merge or enter a new database name:"), this);
    lbSelect->setObjectName(QStringLiteral("lbSelectDb"));
    lbSelect->setWordWrap(true);

    m_cbLocalDbNames = new QComboBox(this);
    m_cbLocalDbNames->setObjectName(QStringLiteral("cbLocalDbNames"));
    m_cbLocalDbNames->setEditable(true);
    // Enter confirms the dialog instead of adding the typed text to the list.
    m_cbLocalDbNames->setInsertPolicy(QComboBox::NoInsert);
    m_cbLocalDbNames->addItem(QString());
    m_cbLocalDbNames->addItems(LocalDbFiles::list());
    if (!suggestedName.isEmpty())
        m_cbLocalDbNames->setEditText(suggestedName);

    auto *lbHint = new QLabel(
        trKey("Selecting current Database will merge contacts;entering new DB name will create a new Database."), this);
    lbHint->setObjectName(QStringLiteral("lbHint"));
    lbHint->setWordWrap(true);

    const DialogButtons buttons =
        stackWithButtons(this, {lbTitle, lbSelect, m_cbLocalDbNames, lbHint}, trKey("Confirm"));
    m_btnOK = buttons.ok;
    connect(m_btnOK, &QPushButton::clicked, this, &LocalDbSelForm::onBtnOkPress);
    connect(buttons.cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void LocalDbSelForm::onBtnOkPress()
{
    const QString text = m_cbLocalDbNames->currentText();
    if (text.trimmed().isEmpty()) {
        MessageBox::warning(this, trKey("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME"));
        return;
    }
    // A name starting with a dot would become a hidden file, which the list of local databases never shows
    // again: the database would seem lost after the next start. Invisible characters make misleading names.
    if (const QString problem = LocalDbFiles::nameProblem(text); !problem.isEmpty()) {
        MessageBox::warning(this, problem);
        return;
    }
    m_fileName = LocalDbFiles::fileNameFor(text);
    accept();
}

int LocalDbSelForm::exec()
{
    if (queuedAnswers.isEmpty())
        return QDialog::exec();
    return execWithQueuedAnswers(*this, queuedAnswers, [this](const QString &answer) {
        m_cbLocalDbNames->setEditText(answer);
        onBtnOkPress();
    });
}

void LocalDbSelForm::queueAnswer(const QString &text)
{
    queuedAnswers.enqueue(text);
}
