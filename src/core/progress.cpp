#include "core/progress.h"

#include "core/texts.h"

#include <QMetaObject>

#include <cmath>

void ProgressReporter::updateProgress(const QString &status, int value, const QString &progressText) const
{
    QMetaObject::invokeMethod(m_target->progressObject(), "updateProgress", Qt::AutoConnection, Q_ARG(QString, status),
                              Q_ARG(int, value), Q_ARG(QString, progressText));
}

void ProgressReporter::errorOccurred(const QString &error) const
{
    QMetaObject::invokeMethod(m_target->progressObject(), "errorOccurred", Qt::AutoConnection, Q_ARG(QString, error));
}

void ProgressReporter::succeed(const QString &tips) const
{
    QMetaObject::invokeMethod(m_target->progressObject(), "succeed", Qt::AutoConnection, Q_ARG(QString, tips));
}

bool ProgressReporter::stopRequested() const
{
    return m_target->finishedWithoutSuccess();
}

int ProgressReporter::percent(double done, double total)
{
    if (!(total > 0))
        return 0;
    const double p = std::trunc(done / total * 100.0);
    return p < 0 ? 0 : p > 100 ? 100 : int(p);
}

QString ProgressReporter::contactsText(qint64 done, qint64 total)
{
    return trKey("Contacts:%1/%2").arg(done).arg(total);
}

ProgressObject::ProgressObject(QObject *parent) : QObject(parent)
{
}

void ProgressObject::cancel()
{
    finish(Outcome::Cancelled, QString());
}

void ProgressObject::updateProgress(const QString &status, int curProgress, const QString &progressText)
{
    if (!status.isEmpty())
        m_status = status;
    if (curProgress >= 0)
        m_value = curProgress;
    const QString text = progressText.isEmpty() ? trKey("Progress:%1%").arg(m_value) : progressText;
    Q_EMIT progressChanged(m_status, m_value, text);
}

void ProgressObject::errorOccurred(const QString &err)
{
    finish(Outcome::Failed, err);
}

void ProgressObject::succeed(const QString &tipsStr)
{
    finish(Outcome::Succeeded, tipsStr);
}

void ProgressObject::finish(Outcome outcome, const QString &message)
{
    // Like the dialog: the first ending counts; posts that arrive after it change nothing.
    if (m_outcome != Outcome::Running)
        return;
    m_outcome = outcome;
    m_message = message;
    m_finishedWithoutSuccess.store(outcome != Outcome::Succeeded);
    Q_EMIT finished(outcome, message);
}
