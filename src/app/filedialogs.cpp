#include "app/filedialogs.h"

#include <QFileDialog>
#include <QQueue>

namespace FileDialogs {

namespace {

struct Answer
{
    QString fileName;
    QString filter;
};

QQueue<Answer> queuedAnswers; // GUI thread only
Offer offered;

// The queued answer when there is one; otherwise the dialog runs.
template <typename Show> QString answer(const QString &path, const QString &filters, QString *selectedFilter, Show show)
{
    offered = {path, filters};
    if (queuedAnswers.isEmpty())
        return show();
    const Answer next = queuedAnswers.dequeue();
    if (selectedFilter)
        *selectedFilter = next.filter.isEmpty() ? filters.section(QStringLiteral(";;"), 0, 0) : next.filter;
    return next.fileName.isNull() ? QString() : next.fileName;
}

} // namespace

QString openFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filters,
                     QString *selectedFilter)
{
    return answer(dir, filters, selectedFilter,
                  [&] { return QFileDialog::getOpenFileName(parent, caption, dir, filters, selectedFilter); });
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &proposed, const QString &filters,
                     QString *selectedFilter)
{
    return answer(proposed, filters, selectedFilter,
                  [&] { return QFileDialog::getSaveFileName(parent, caption, proposed, filters, selectedFilter); });
}

void queueAnswer(const QString &fileName, const QString &selectedFilter)
{
    queuedAnswers.enqueue({fileName, selectedFilter});
}

Offer lastOffer()
{
    return offered;
}

} // namespace FileDialogs
