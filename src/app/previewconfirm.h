#pragma once

// The question before a transfer, backup, restore or import: what the merge will do to the target (contacts added,
// merged with the rows that change, left unchanged) is worked out on a throwaway copy behind a progress dialog,
// then shown with the question and an expandable list.

#include "contacts/pim.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class LocalDb;
class ProgressTarget;
class QThread;
class QWidget;

namespace PreviewConfirm {

// Merges the contacts into a copy of the target and asks `question` (rich text) with the summary under it. True
// when the user said yes; false after a refusal, a cancel or an error (which has been shown).
bool confirmContacts(QWidget *parent, LocalDb *target, const QList<pim::Contact> &contacts, const QString &question);

// The same for a worker that reads its own contacts (an import): makeWorker gets the copy and the progress
// receiver and returns the worker, which is run on the copy as the real run will run on the target.
using WorkerFactory = std::function<std::unique_ptr<QThread>(LocalDb &copy, ProgressTarget *progress)>;
bool confirmWorker(QWidget *parent, LocalDb *target, const WorkerFactory &makeWorker, const QString &question);

} // namespace PreviewConfirm
