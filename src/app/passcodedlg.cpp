#include "app/passcodedlg.h"

#include "app/dialogbuttons.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "core/texts.h"
#include "itunes/iositunesbksetpasswordthread.h"
#include "widgets/queuedanswers.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QQueue>

namespace {
QQueue<QString> queuedAnswers; // GUI thread only
}

PasscodeDlg::PasscodeDlg(const PBackupManifest &manifest, QWidget *parent) : QDialog(parent), m_manifest(manifest)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new WinMovable(this);
    setStyleSheet(StyleSheet::load(QStringLiteral(":/res/style.css")));
    setWindowTitle(trKey("iPhone Backup Password"));
    setMinimumWidth(380);

    auto *lbTitle2 = new QLabel(trKey("IDS_PLEASE_ENTER_PASSWORD_TO_LOAD_BACKUP"), this);
    lbTitle2->setObjectName(QStringLiteral("lbTitle2"));
    lbTitle2->setWordWrap(true);
    m_txtPasscode = new QLineEdit(this);
    m_txtPasscode->setObjectName(QStringLiteral("txtPasscode"));
    m_txtPasscode->setEchoMode(QLineEdit::Password);
    m_txtPasscode->setPlaceholderText(trKey("IDS_ENTER_PASSWORD"));
    const DialogButtons buttons = stackWithButtons(this, {lbTitle2, m_txtPasscode}, trKey("OK"));
    connect(buttons.ok, &QPushButton::pressed, this, &PasscodeDlg::btnOKPressed);
    connect(buttons.cancel, &QPushButton::pressed, this, &QDialog::reject);
}

PasscodeDlg::~PasscodeDlg() = default;

void PasscodeDlg::btnOKPressed()
{
    const QString text = m_txtPasscode->text();
    if (text.isEmpty()) {
        MessageBox::information(this, trKey("IDS_PWD_IS_NULL"));
        return;
    }
    IOSiTunesBKSetPasswordThread::Outcome outcome = IOSiTunesBKSetPasswordThread::Outcome::Running;
    {
        ProgressForm progress(QString(), this);
        IOSiTunesBKSetPasswordThread check(m_manifest, text, &progress);
        check.start(QThread::InheritPriority);
        progress.exec();
        // A cancel stops the key derivation within a fraction of a second; the thread is waited for, never
        // terminated, since it may be writing the deciphered Manifest.db.
        progress.waitThread(&check);
        outcome = check.outcome();
    }
    if (outcome == IOSiTunesBKSetPasswordThread::Outcome::Cancelled)
        return; // back to the password field, as it was
    if (outcome == IOSiTunesBKSetPasswordThread::Outcome::Failed) {
        reject(); // a damaged backup: the progress dialog has shown why; no password will open it
        return;
    }
    if (outcome != IOSiTunesBKSetPasswordThread::Outcome::Accepted) {
        MessageBox::information(this, trKey("IDS_INVALID_PASSWORD"));
        m_txtPasscode->clear();
        return;
    }
    m_password = text;
    accept();
}

int PasscodeDlg::exec()
{
    if (queuedAnswers.isEmpty())
        return QDialog::exec();
    return execWithQueuedAnswers(*this, queuedAnswers, [this](const QString &answer) {
        m_txtPasscode->setText(answer);
        btnOKPressed();
    });
}

void PasscodeDlg::queueAnswer(const QString &password)
{
    queuedAnswers.enqueue(password);
}
