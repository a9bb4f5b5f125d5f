#include "widgets/editcontactform.h"

#include "contacts/contactchanges.h"
#include "contacts/contactname.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "widgets/contacteditor.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QScreen>
#include <QScrollBar>
#include <QSizeGrip>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QQueue<EditContactForm::ScriptedEdit> queuedEdits; // GUI thread only

QString applicationStyleSheet()
{
    QFile file(u":/res/style.css"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

EditContactForm::EditContactForm(const pim::Contact &contact, LocalDb *database, QWidget *parent)
    : QDialog(parent), m_database(database)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setStyleSheet(applicationStyleSheet());

    m_lbTitle = new QLabel(this);
    m_lbTitle->setObjectName(u"lbTitle"_s);
    m_lbTitle->setMinimumHeight(25);
    m_lbTitle->setTextFormat(Qt::PlainText);
    m_wdEditContact = new ContactEditor(this);
    m_wdEditContact->setObjectName(u"wdEditContact"_s);
    m_btnSave = new QPushButton(trKey("Apply"), this);
    m_btnSave->setObjectName(u"btnSave"_s);
    m_btnCancel = new QPushButton(trKey("Cancel"), this);
    m_btnCancel->setObjectName(u"btnCancel"_s);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnSave);
    buttons->addWidget(m_btnCancel);
    // A frameless dialog has no border to drag: the grip in its corner resizes it.
    auto *grip = new QSizeGrip(this);
    grip->setObjectName(u"sizeGrip"_s);
    buttons->addWidget(grip, 0, Qt::AlignBottom | Qt::AlignRight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_lbTitle);
    layout->addWidget(m_wdEditContact, 1);
    layout->addLayout(buttons);

    connect(m_btnSave, &QPushButton::pressed, this, &EditContactForm::onBtnSavePressed);
    connect(m_btnCancel, &QPushButton::pressed, this, &EditContactForm::onBtnCancelPressed);

    m_wdEditContact->setContact(contact);
    const QString title =
        contact.full_name.isEmpty() ? trKey("IDS_NEW_CONTACT") : trKey("IDS_EDIT_CONTACT_%1").arg(contact.full_name);
    setWindowTitle(title);
    m_lbTitle->setText(title);

    // As wide as the form likes and as high as a usual screen allows, but never beyond the screen it opens on:
    // the editor then scrolls and its fields narrow.
    const QScreen *shownOn = parent ? parent->screen() : screen();
    const QRect area = shownOn ? shownOn->availableGeometry() : QRect(0, 0, 1024, 768);
    const int formWidth =
        m_wdEditContact->widget()->sizeHint().width() + m_wdEditContact->verticalScrollBar()->sizeHint().width();
    setMinimumSize(360, 320);
    resize(std::min(formWidth + 48, area.width() - 40), std::min(640, area.height() - 40));
}

EditContactForm::~EditContactForm() = default;

QString EditContactForm::title() const
{
    return m_lbTitle->text();
}

QList<pim::ChangeRecord> EditContactForm::getChanges(const AbsContactCombineRule &rule,
                                                     const pim::Contact &stored) const
{
    return ::getChanges(rule, stored, m_wdEditContact->currentContact());
}

void EditContactForm::warn(const QString &text)
{
    if (m_warning) {
        m_warning(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, Product::title(), text, QMessageBox::Ok, this);
    box.exec();
}

void EditContactForm::onBtnSavePressed()
{
    // A company alone makes a company contact, shown by its company.
    if (m_wdEditContact->field(u"txtFirstName"_s)->text().trimmed().isEmpty() &&
        m_wdEditContact->field(u"txtLastName"_s)->text().trimmed().isEmpty() &&
        m_wdEditContact->field(u"txtCompany"_s)->text().trimmed().isEmpty()) {
        warn(trKey("IDS_ENTER_FIRSTNAME_OR_LASTNAME"));
        return;
    }
    if (m_database) {
        const QString name = pim::shownName(m_wdEditContact->currentContact());
        qint64 existing = 0;
        try {
            existing = m_database->findContactByName(name);
        } catch (const std::exception &e) {
            warn(QString::fromUtf8(e.what()).toHtmlEscaped());
            return;
        }
        if (existing != 0) {
            // The message box shows rich text; the name is the user's.
            warn(trKey("IDS_CONTACT_NAME_%1_EXIST").arg(name.toHtmlEscaped()));
            return;
        }
    }
    accept();
}

void EditContactForm::onBtnCancelPressed()
{
    const QString question = trKey("IDS_CANCEL_EDIT_CONTACT_WILL_LOST_CHANGES_CONTINUE");
    const bool yes =
        m_question ? m_question(question) : QMessageBox::question(this, Product::title(), question) == QMessageBox::Yes;
    if (yes)
        reject();
}

void EditContactForm::keyPressEvent(QKeyEvent *event)
{
    // Escape would reject the dialog and the keypad Enter press the default button: both lose or apply the
    // edit by accident, so neither does anything here.
    if (event->key() == Qt::Key_Escape ||
        (event->key() == Qt::Key_Enter && event->modifiers().testFlag(Qt::KeypadModifier))) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

int EditContactForm::exec()
{
    if (queuedEdits.isEmpty())
        return QDialog::exec();
    while (!queuedEdits.isEmpty()) {
        const ScriptedEdit edit = queuedEdits.dequeue();
        if (!edit)
            break;
        edit(*m_wdEditContact);
        onBtnSavePressed();
        if (result() == QDialog::Accepted)
            return QDialog::Accepted;
    }
    reject();
    return QDialog::Rejected;
}

void EditContactForm::queueAnswer(const ScriptedEdit &edit)
{
    queuedEdits.enqueue(edit);
}
