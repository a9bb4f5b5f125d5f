#pragma once

#include <QDialog>
#include <QQueue>
#include <QString>

#include <functional>

// Headless runs (tests, scripted window flows) of a dialog that asks for one text: while answers are queued the
// dialog is not shown; each answer is entered and confirmed as a user would, retrying after a refusal, until the
// dialog accepts. A null answer, or running out of answers, cancels.
inline int execWithQueuedAnswers(QDialog &dialog, QQueue<QString> &answers,
                                 const std::function<void(const QString &)> &enterAndConfirm)
{
    while (!answers.isEmpty()) {
        const QString answer = answers.dequeue();
        if (answer.isNull())
            break;
        enterAndConfirm(answer);
        if (dialog.result() == QDialog::Accepted)
            return QDialog::Accepted;
    }
    dialog.reject();
    return QDialog::Rejected;
}
