#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <stdexcept>

// Asked between steps of a long operation: true when the user has given up.
using CancelCheck = std::function<bool()>;

// Thrown by a long step when its CancelCheck said so; callers end as a cancel, not as an error.
class StepCancelled : public std::runtime_error
{
public:
    StepCancelled() : std::runtime_error("cancelled") {}
};

// The channel between a worker thread and whoever shows its progress (the progress dialog in the window, a
// widget-free object in the command line tool and in tests).
//
// A worker never calls the receiver directly: it invokes the receiver's slots "updateProgress(QString,int,QString)",
// "errorOccurred(QString)" and "succeed(QString)" by name, so they run queued on the receiver's thread, and it reads
// the finished-without-success flag between items to learn that the user cancelled or the operation failed.
class ProgressTarget
{
public:
    virtual ~ProgressTarget() = default;
    // The object whose slots receive the worker's calls.
    virtual QObject *progressObject() = 0;
    // True once the operation ended without success (cancelled or failed); read from the worker's thread.
    virtual bool finishedWithoutSuccess() const = 0;
};

// What a worker holds: posts to the target and reads its flag. Safe to copy; does not own the target.
class ProgressReporter
{
public:
    explicit ProgressReporter(ProgressTarget *target) : m_target(target) {}

    // status replaces the status line when not empty; value < 0 keeps the bar; an empty text shows the percentage.
    void updateProgress(const QString &status, int value, const QString &progressText) const;
    void errorOccurred(const QString &error) const;
    void succeed(const QString &tips) const;
    bool stopRequested() const;

    // done × 100 ÷ total, truncated, computed in floating point and kept within 0..100 (a total of 0 gives 0).
    static int percent(double done, double total);
    // "Contacts:%1/%2" through the translation.
    static QString contactsText(qint64 done, qint64 total);

private:
    ProgressTarget *m_target;
};

// The widget-free receiver: records what the worker posts, emits it as signals, and offers cancel() with the
// meaning of a confirmed cancel in the dialog.
class ProgressObject : public QObject, public ProgressTarget
{
    Q_OBJECT
public:
    enum class Outcome { Running, Succeeded, Failed, Cancelled };

    explicit ProgressObject(QObject *parent = nullptr);

    QObject *progressObject() override { return this; }
    bool finishedWithoutSuccess() const override { return m_finishedWithoutSuccess.load(); }

    Outcome outcome() const { return m_outcome; }
    QString message() const { return m_message; } // the success text or the error text
    QString status() const { return m_status; }
    int value() const { return m_value; }

    // The user gave up: the worker stops at its next check. Ignored once the operation has ended.
    void cancel();

public Q_SLOTS:
    void updateProgress(const QString &status, int curProgress, const QString &progressText);
    void errorOccurred(const QString &err);
    void succeed(const QString &tipsStr);

Q_SIGNALS:
    void progressChanged(const QString &status, int value, const QString &progressText);
    // Emitted once, when the operation ends (success, error or cancel).
    void finished(ProgressObject::Outcome outcome, const QString &message);

private:
    void finish(Outcome outcome, const QString &message);

    std::atomic<bool> m_finishedWithoutSuccess{false};
    Outcome m_outcome = Outcome::Running;
    QString m_message;
    QString m_status;
    int m_value = 0;
};
