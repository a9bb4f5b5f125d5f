#pragma once

#include <QString>

class QWidget;

// The window's open-file and save-file dialogs, with a seam for headless runs: answers queued in advance are
// returned instead of showing a dialog (as MessageBox::queueAnswer and LocalDbSelForm::queueAnswer do).
namespace FileDialogs {

// The chosen file, or an empty text when none was chosen; selectedFilter receives the filter that was
// selected.
QString openFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filters,
                     QString *selectedFilter);
QString saveFileName(QWidget *parent, const QString &caption, const QString &proposed, const QString &filters,
                     QString *selectedFilter);

// Headless runs (tests, scripted window flows): the next dialog returns this file and filter (an empty
// filter selects the first offered) without being shown; a null file name answers as Cancel.
void queueAnswer(const QString &fileName, const QString &selectedFilter = QString());

// What the last dialog offered, for tests: its start folder or proposed file, and its filters.
struct Offer
{
    QString path;
    QString filters;
};
Offer lastOffer();

} // namespace FileDialogs
