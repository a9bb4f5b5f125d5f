#include "app/datasourceselform.h"

#include "app/dialogbuttons.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "core/texts.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QQueue>

namespace {
QQueue<int> queuedAnswers; // GUI thread only
}

DataSourceSelForm::DataSourceSelForm(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new WinMovable(this);
    setStyleSheet(StyleSheet::load());
    setMinimumWidth(380);

    m_lbSelDevice = new QLabel(this);
    m_lbSelDevice->setObjectName(QStringLiteral("lbSelDevice"));
    m_lbSelDevice->setWordWrap(true);
    m_cbDevice = new QComboBox(this);
    m_cbDevice->setObjectName(QStringLiteral("cbDevice"));
    m_btnOpenOther = new QLabel(trKey("(To manually select iTunes Backup, click <a href=\"#\">HERE</a>.)"), this);
    m_btnOpenOther->setObjectName(QStringLiteral("btnOpenOther"));
    m_btnOpenOther->setTextFormat(Qt::RichText);
    m_btnOpenOther->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);

    const DialogButtons buttons = stackWithButtons(this, {m_lbSelDevice, m_cbDevice, m_btnOpenOther}, trKey("Confirm"));
    connect(buttons.ok, &QPushButton::clicked, this, &DataSourceSelForm::onBtnOkPressed);
    connect(buttons.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_btnOpenOther, &QLabel::linkActivated, this, &DataSourceSelForm::openOtherRequested);
}

void DataSourceSelForm::setPrompt(const QString &prompt)
{
    m_lbSelDevice->setText(prompt);
    setWindowTitle(prompt);
}

void DataSourceSelForm::addChoice(const QIcon &icon, const QString &name, const QVariant &value)
{
    m_cbDevice->addItem(icon, name, value);
}

void DataSourceSelForm::setOpenOtherVisible(bool visible)
{
    m_btnOpenOther->setVisible(visible);
}

void DataSourceSelForm::setDeviceCandidates(const QString &prompt, const QList<Candidate> &candidates)
{
    setOpenOtherVisible(false);
    setPrompt(prompt);
    for (const Candidate &candidate : candidates)
        addChoice(candidate.icon, candidate.name, QVariant::fromValue(candidate.node));
}

QVariant DataSourceSelForm::selectedData() const
{
    return m_cbDevice->currentIndex() < 0 ? QVariant() : m_cbDevice->currentData();
}

_DBItemNode *DataSourceSelForm::selectedNode() const
{
    return selectedData().value<_DBItemNode *>();
}

void DataSourceSelForm::onBtnOkPressed()
{
    if (m_cbDevice->currentIndex() < 0) {
        MessageBox::warning(this, trKey("IDS_PLEASE_SELECT_ONE_DATASOURCE"));
        return;
    }
    accept();
}

int DataSourceSelForm::exec()
{
    if (queuedAnswers.isEmpty())
        return QDialog::exec();
    while (!queuedAnswers.isEmpty()) {
        const int row = queuedAnswers.dequeue();
        if (row < 0)
            break;
        m_cbDevice->setCurrentIndex(row < m_cbDevice->count() ? row : -1);
        onBtnOkPressed();
        if (result() == QDialog::Accepted)
            return QDialog::Accepted;
    }
    reject();
    return QDialog::Rejected;
}

void DataSourceSelForm::queueAnswer(int row)
{
    queuedAnswers.enqueue(row);
}
