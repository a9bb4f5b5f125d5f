#include "cli/dryrun.h"

#include "cli/clicommon.h"
#include "cli/workerrunner.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/mergepreview.h"
#include "core/datafolder.h"
#include "core/progress.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>
#include <QThread>

namespace cli {

namespace {

int printPlan(const MergePlan &plan, bool json, Io io)
{
    if (json) {
        QJsonObject object = plan.toJson();
        object.insert(QStringLiteral("dry_run"), true);
        printJson(io.out, QJsonDocument(object));
        return Success;
    }
    io.out << trKey("IDS_PREVIEW_NOTHING_WRITTEN") << ' ' << plan.summaryText() << '\n';
    const QString details = plan.detailsText();
    if (!details.isEmpty())
        io.out << details << '\n';
    return Success;
}

PContactCombineRule userRule()
{
    return PContactCombineRule(new UserDbCombineRule);
}

} // namespace

bool dryRunRequested(const Options &options)
{
    const bool dryRun = options.has(QStringLiteral("dry-run"));
    if (options.has(QStringLiteral("json")) && !dryRun)
        throw UsageException{QStringLiteral("--json goes with --dry-run")};
    return dryRun;
}

std::unique_ptr<LocalDb> existingDbForDryRun(const QString &name)
{
    if (name.trimmed().isEmpty())
        throw UsageException{trKey("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME")};
    if (const QString problem = LocalDbFiles::nameProblem(name); !problem.isEmpty())
        throw UsageException{problem};
    const QString path = LocalDbFiles::pathFor(LocalDbFiles::fileNameFor(name));
    if (!QFileInfo::exists(path))
        return nullptr;
    return openLocalDb(path);
}

int previewContacts(LocalDb *target, const QList<pim::Contact> &contacts, bool json, Io io)
{
    MergePreview preview(target, userRule());
    InterruptScope interrupt;
    try {
        preview.mergeAll(contacts, [&interrupt] { return interrupt.requested(); });
    } catch (const LocalDb::MergeCancelled &) {
        throw CancelledByUser();
    }
    return printPlan(preview.plan(), json, io);
}

int previewWorker(LocalDb *target, const WorkerFactory &makeWorker, bool json, Io io)
{
    MergePreview preview(target, userRule());
    ProgressObject progress;
    const std::unique_ptr<QThread> worker = makeWorker(preview.copy(), progress);
    // Its "Successfully imported" would claim what did not happen: only the plan is printed.
    QString ignored;
    QTextStream discard(&ignored);
    const int code = runWorker(*worker, progress, Io{discard, io.err});
    if (code != Success)
        return code;
    return printPlan(preview.plan(), json, io);
}

} // namespace cli
