#include "widgets/groupform.h"

#include "contacts/localdb.h"
#include "core/texts.h"
#include "widgets/queuedanswers.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

using namespace Qt::StringLiterals;

namespace {

QQueue<QString> queuedAnswers; // GUI thread only

QString applicationStyleSheet()
{
    QFile file(u":/res/style.css"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

GroupForm::GroupForm(LocalDb *database, QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(403, 146);
    setStyleSheet(applicationStyleSheet());
    setWindowTitle(trKey("Set Contact Group"));

    m_label = new QLabel(trKey("Pick a Group or enter new Group name;"), this);
    m_label->setObjectName(u"label"_s);
    m_label->setGeometry(20, 10, 361, 41);
    m_label->setWordWrap(true);

    m_cbGroups = new QComboBox(this);
    m_cbGroups->setObjectName(u"cbGroups"_s);
    m_cbGroups->setGeometry(20, 60, 361, 22);
    m_cbGroups->setEditable(true);
    m_cbGroups->setInsertPolicy(QComboBox::NoInsert); // a typed name is a new group, chosen with OK
    for (const auto &[id, name] : database->listGroups())
        m_cbGroups->addItem(name, id);

    m_btnOK = new QPushButton(trKey("OK"), this);
    m_btnOK->setObjectName(u"btnOK"_s);
    m_btnOK->setGeometry(98, 104, 75, 23);
    m_btnCancel = new QPushButton(trKey("Cancel"), this);
    m_btnCancel->setObjectName(u"btnCancel"_s);
    m_btnCancel->setGeometry(238, 104, 75, 23);

    connect(m_btnOK, &QPushButton::pressed, this, &GroupForm::onBtnOKPressed);
    connect(m_btnCancel, &QPushButton::pressed, this, &QDialog::reject);
}

GroupForm::~GroupForm() = default;

void GroupForm::onBtnOKPressed()
{
    const QString name = m_cbGroups->currentText().trimmed();
    m_groupName.clear();
    m_groupId = 0;
    if (name.isEmpty()) {
        const QString question = trKey("IDS_CONFIRM_UNGROUP_CONTACTS");
        const bool yes = m_question ? m_question(question)
                                    : QMessageBox::question(this, Product::title(), question) == QMessageBox::Yes;
        if (yes)
            accept();
        return;
    }
    // MatchFixedString without MatchCaseSensitive: the whole name, letter case ignored.
    const int index = m_cbGroups->findText(name, Qt::MatchFixedString);
    if (index >= 0) {
        m_groupName = m_cbGroups->itemText(index);
        m_groupId = m_cbGroups->itemData(index).toLongLong();
    } else {
        m_groupName = name;
    }
    accept();
}

int GroupForm::exec()
{
    if (queuedAnswers.isEmpty())
        return QDialog::exec();
    return execWithQueuedAnswers(*this, queuedAnswers, [this](const QString &answer) {
        m_cbGroups->setEditText(answer);
        onBtnOKPressed();
    });
}

void GroupForm::queueAnswer(const QString &text)
{
    queuedAnswers.enqueue(text);
}
