#include "app/progressform.h"

#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "core/texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

ProgressForm::ProgressForm(const QString &title, QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    new WinMovable(this);
    setStyleSheet(StyleSheet::load(QStringLiteral(":/res/style.css")));
    setFixedSize(350, 122);
    setWindowTitle(title);

    m_lbStatus = new QLabel(title, this);
    m_lbStatus->setObjectName(QStringLiteral("lbStatus"));
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(true);
    m_lbProgress = new QLabel(this);
    m_lbProgress->setObjectName(QStringLiteral("lbProgress"));
    m_lbProgress->setAlignment(Qt::AlignCenter);
    m_btnCancel = new QPushButton(trKey("Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnCancel->setFocusPolicy(Qt::NoFocus);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(4);
    layout->addWidget(m_lbStatus);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_lbProgress);
    layout->addLayout(buttons);

    connect(this, &QDialog::finished, this, &ProgressForm::onFinish);
    connect(m_btnCancel, &QPushButton::pressed, this, &ProgressForm::cancel);
}

void ProgressForm::setCancelEnabled(bool enabled)
{
    m_btnCancel->setEnabled(enabled);
}

void ProgressForm::setWaiting(const QString &text)
{
    m_progressBar->setRange(0, 0);
    m_lbProgress->setText(text);
}

void ProgressForm::updateProgress(const QString &status, int curProgress, const QString &progressText)
{
    if (!status.isEmpty())
        m_lbStatus->setText(status);
    if (curProgress >= 0)
        m_progressBar->setValue(curProgress);
    m_lbProgress->setText(progressText.isEmpty() ? trKey("Progress:%1%").arg(m_progressBar->value()) : progressText);
}

void ProgressForm::errorOccurred(const QString &err)
{
    if (isOver())
        return;
    // A worker's error is plain text that may quote what a phone, a file or a contact said: the rich-text box
    // shows it as written, never as markup.
    MessageBox::error(this, MessageBox::escaped(err));
    done(0);
}

void ProgressForm::succeed(const QString &tipsStr)
{
    if (isOver())
        return;
    if (!tipsStr.isEmpty() && m_offerUndo)
        m_undoChosen = MessageBox::show(this, MessageBox::Icon::Information, tipsStr,
                                        MessageBox::Ok | MessageBox::Undo) == MessageBox::Undo;
    else if (!tipsStr.isEmpty())
        MessageBox::information(this, tipsStr);
    done(1);
}

void ProgressForm::onFinish(int result)
{
    // Only the first ending counts: a success that arrives while the cancel question is open must not be
    // turned into a failure by the late "Yes", nor a failure into a success.
    if (m_over)
        return;
    m_over = true;
    m_finishedWithoutSuccess.store(result == 0);
}

void ProgressForm::tipsWait(const QString &info)
{
    MessageBox::information(this, info);
}

void ProgressForm::cancel()
{
    if (isOver())
        return;
    if (!MessageBox::question(this, trKey("Are You Sure You Want To Cancel?")))
        return;
    if (isOver()) // the worker ended while the question was open
        return;
    Q_EMIT userCacel();
    done(0);
}

void ProgressForm::setCancelBtnText(const QString &text)
{
    m_btnCancel->setText(text);
}

void ProgressForm::waitThread(QThread *thread, bool forceStop)
{
    while (!thread->wait(1000)) {
        if (forceStop && finishedWithoutSuccess()) {
            thread->terminate();
            thread->wait(1000);
            return;
        }
    }
}

bool ProgressForm::runWorker(QThread *worker)
{
    worker->start(QThread::InheritPriority);
    const int result = exec();
    waitThread(worker);
    return result == 1 && !finishedWithoutSuccess();
}
