#include "app/previewconfirm.h"

#include "app/messagebox.h"
#include "app/progressform.h"
#include "contacts/localdb.h"
#include "contacts/mergepreview.h"
#include "core/texts.h"

#include <QThread>

namespace PreviewConfirm {

namespace {

// Passes a worker's progress and errors to the dialog but drops its success text: the worker ran on the copy,
// and its "Successfully imported" would claim what has not happened.
class QuietSuccess : public QObject, public ProgressTarget
{
    Q_OBJECT
public:
    explicit QuietSuccess(ProgressForm *form) : m_form(form) {}
    QObject *progressObject() override { return this; }
    bool finishedWithoutSuccess() const override { return m_form->finishedWithoutSuccess(); }

public Q_SLOTS:
    void updateProgress(const QString &status, int value, const QString &text)
    {
        m_form->updateProgress(status, value, text);
    }
    void errorOccurred(const QString &error) { m_form->errorOccurred(error); }
    void succeed(const QString &) { m_form->succeed(QString()); }

private:
    ProgressForm *m_form;
};

bool ask(QWidget *parent, const QString &question, const MergePlan &plan)
{
    const QString text = question + QStringLiteral("<br/><br/>") + MessageBox::escaped(plan.summaryText());
    return MessageBox::showWithDetails(parent, MessageBox::Icon::Question, text, plan.detailsText(),
                                       MessageBox::Yes | MessageBox::No, MessageBox::No) == MessageBox::Yes;
}

// The copy of the target, or nothing after an error box.
std::unique_ptr<MergePreview> makePreview(QWidget *parent, LocalDb *target)
{
    try {
        return std::make_unique<MergePreview>(target, target->rule());
    } catch (const std::exception &e) {
        MessageBox::error(parent, MessageBox::escaped(QString::fromUtf8(e.what())));
        return nullptr;
    }
}

} // namespace

bool confirmContacts(QWidget *parent, LocalDb *target, const QList<pim::Contact> &contacts, const QString &question)
{
    const std::unique_ptr<MergePreview> preview = makePreview(parent, target);
    if (!preview)
        return false;
    ProgressForm form(trKey("IDS_PREVIEWING_CONTACTS"), parent);
    MergePreviewThread worker(preview.get(), contacts, &form);
    if (!form.runWorker(&worker))
        return false;
    return ask(parent, question, preview->plan());
}

bool confirmWorker(QWidget *parent, LocalDb *target, const WorkerFactory &makeWorker, const QString &question)
{
    const std::unique_ptr<MergePreview> preview = makePreview(parent, target);
    if (!preview)
        return false;
    ProgressForm form(trKey("IDS_PREVIEWING_CONTACTS"), parent);
    QuietSuccess relay(&form);
    const std::unique_ptr<QThread> worker = makeWorker(preview->copy(), &relay);
    if (!form.runWorker(worker.get()))
        return false;
    return ask(parent, question, preview->plan());
}

} // namespace PreviewConfirm

#include "previewconfirm.moc"
