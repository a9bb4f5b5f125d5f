#pragma once

#include "core/progress.h"

#include <QDialog>

#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

// The modal progress dialog every long operation runs behind. The worker posts progress, one error or one
// success to its slots (queued, by name) and reads the finished-without-success flag between items.
class ProgressForm : public QDialog, public ProgressTarget
{
    Q_OBJECT
public:
    ProgressForm(const QString &title, QWidget *parent = nullptr);

    QObject *progressObject() override { return this; }
    bool finishedWithoutSuccess() const override { return m_finishedWithoutSuccess.load(); }

    void setCancelEnabled(bool enabled);
    // For a wait of unknown length: the bar runs back and forth and the text under it says what is awaited.
    void setWaiting(const QString &text);
    // Waits in steps of a second until the thread ends. With forceStop, a thread still running after the dialog
    // finished without success is terminated (then one more second is given) instead of waited for.
    void waitThread(QThread *thread, bool forceStop = false);

    // The order every operation follows: start the worker, run the dialog, wait for the worker. True when the
    // dialog closed with success.
    bool runWorker(QThread *worker);
    // The success box gets a button that undoes the write; undoChosen() says afterwards whether it was pressed.
    void offerUndo() { m_offerUndo = true; }
    bool undoChosen() const { return m_undoChosen; }

Q_SIGNALS:
    void userCacel();

public Q_SLOTS:
    void updateProgress(const QString &status, int curProgress, const QString &progressText);
    void errorOccurred(const QString &err);
    void succeed(const QString &tipsStr);
    void onFinish(int result);
    void tipsWait(const QString &info);
    void cancel();
    void setCancelBtnText(const QString &text);

private:
    bool isOver() const { return m_over; }

    QProgressBar *m_progressBar;
    QLabel *m_lbProgress;
    QPushButton *m_btnCancel;
    QLabel *m_lbStatus;
    std::atomic<bool> m_finishedWithoutSuccess{false};
    bool m_over = false; // the dialog has finished once; later posts and answers change nothing
    bool m_offerUndo = false;
    bool m_undoChosen = false;
};
