// list-run: the contact list of a large local database in the window (offscreen platform). Selecting the
// database's node is timed from the selection to the event loop running again, to the first rows painted and to
// the complete list, with the longest time the event loop stood still and the process CPU time (worker included).
//
//   list-run --prepare N                  fills "list-bench.db" in the data folder under HOME with N mixed contacts
//   list-run [--keyword K] [--runs R]     selects the node R times (default 3) and prints each run and the medians
//   list-run --at-once [...]              the reference: the whole listing read on the GUI thread with
//                                         LocalDb::listContacts and set into the list in one go
//   list-run --settle [...]               each run starts once the previous list has been freed (a pool thread
//                                         frees a long list); a search then starts from the node just selected
//                                         instead of from its complete list
//
// Each run ends by checking that the list holds exactly what LocalDb::listContacts returns.

#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/mainwindow.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "fileio/vcard.h"
#include "vcardgen.h"

#include <QApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QIODevice>
#include <QLineEdit>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {

const QString kFileName = QStringLiteral("list-bench.db");

qint64 cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// Every field of every contact, in order, as bytes: two listings are the same when these are.
QByteArray fingerprint(const QList<pim::Contact> &contacts)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const pim::Contact &c : contacts) {
        out << c._id << c.src_id << c.full_name;
        for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it)
            for (const pim::DataRow &row : it.value())
                out << it.key() << row._id << row.src_id << row.columns;
    }
    return bytes;
}

int prepare(int contacts)
{
    LocalDb db(LocalDbFiles::pathFor(kFileName), PContactCombineRule(new LocalDbCombineRule));
    db.createFromTemplate();
    db.beginTransaction();
    for (const pim::Contact &c : vcard::contactsFromBytes(generateMixedVCards(contacts)))
        db.saveContactWithMerge(c);
    db.endTransaction(true);
    std::printf("%d contacts in %s\n", contacts, qPrintable(db.path()));
    return 0;
}

struct Run
{
    qint64 back = 0;      // the event loop runs again
    qint64 firstRows = 0; // the list's first paint with rows in it
    qint64 complete = 0;  // the list holds every contact
    qint64 stall = 0;     // longest time between two turns of the event loop
    qint64 cpu = 0;
    int rows = 0;
    bool same = false;
};

// Watches one run: the list's first paint with rows, the end of the listing, and the gaps between the ticks of
// a 2 ms timer, which are the event loop's stalls.
class RunWatch : public QObject
{
public:
    RunWatch(MainWindow &window, QTreeView *list, bool atOnce) : m_window(window), m_list(list), m_atOnce(atOnce)
    {
        m_list->viewport()->installEventFilter(this);
        m_tick.setInterval(2);
        QObject::connect(&m_tick, &QTimer::timeout, this, [this] { onTick(); });
    }

    void begin()
    {
        m_run = Run();
        m_cpu = cpuMs();
        m_clock.start();
        m_lastTick = 0;
        m_tick.start();
    }
    void returned() { m_run.back = m_clock.elapsed(); }
    Run wait()
    {
        while (m_run.complete == 0)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_tick.stop();
        return m_run;
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_clock.isValid() && m_run.firstRows == 0 &&
            m_window.contactsModel()->rowCount() > 0)
            m_run.firstRows = m_clock.elapsed();
        return false;
    }

private:
    void onTick()
    {
        const qint64 now = m_clock.elapsed();
        m_run.stall = std::max(m_run.stall, now - m_lastTick);
        m_lastTick = now;
        const bool shown = m_run.firstRows != 0 || m_window.contactsModel()->rowCount() == 0;
        if (m_run.complete == 0 && shown && (m_atOnce || !m_window.isListingContacts())) {
            m_run.complete = now;
            m_run.cpu = cpuMs() - m_cpu;
        }
    }

    MainWindow &m_window;
    QTreeView *m_list;
    bool m_atOnce;
    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_cpu = 0;
    qint64 m_lastTick = 0;
    Run m_run;
};

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

int measure(bool atOnce, bool settle, const QString &keyword, int runs)
{
    MainWindow window;
    window.resize(1200, 800);
    window.show();
    QApplication::processEvents();
    _DBItemNode *node = window.treeModel()->findDatabaseNode(kFileName);
    if (!node) {
        std::fprintf(stderr, "no %s in %s: run list-run --prepare N first\n", qPrintable(kFileName),
                     qPrintable(DataFolder::localDbDir()));
        return 1;
    }
    auto *tree = window.findChild<QTreeView *>(QStringLiteral("treeMain"));
    auto *list = window.findChild<QTreeView *>(QStringLiteral("treeContacts"));
    LocalDb reference(node->db->path(), PContactCombineRule(new LocalDbCombineRule));
    // Read and freed on a thread of its own, so that none of its memory is left for the window's thread to
    // tidy up during the first run.
    QByteArray expected;
    std::thread([&] { expected = fingerprint(reference.listContacts(0, keyword)); }).join();

    RunWatch watch(window, list, atOnce);
    QList<qint64> back, first, complete, stall, cpu;
    for (int r = 0; r < runs; ++r) {
        // From an empty list each time: the databases root lists nothing. A search starts from the node's
        // complete list, as the user types a keyword into it.
        const QModelIndex root = window.treeModel()->indexOfNode(window.treeModel()->databasesRoot());
        tree->selectionModel()->select(root, QItemSelectionModel::ClearAndSelect);
        if (!atOnce && !keyword.isEmpty()) {
            tree->selectionModel()->select(window.treeModel()->indexOfNode(node), QItemSelectionModel::ClearAndSelect);
            while (!settle && window.isListingContacts())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            window.findChild<QLineEdit *>(QStringLiteral("txtKeyword"))->setText(keyword);
        }
        if (settle)
            QThreadPool::globalInstance()->waitForDone();
        QApplication::processEvents();
        watch.begin();
        if (atOnce) {
            window.contactsModel()->setContacts(reference.listContacts(0, keyword));
            list->setCurrentIndex(window.contactsModel()->indexOfRow(0));
        } else if (keyword.isEmpty()) {
            tree->selectionModel()->select(window.treeModel()->indexOfNode(node), QItemSelectionModel::ClearAndSelect);
        } else {
            window.onBtnSearchPressed();
        }
        watch.returned();
        Run run = watch.wait();
        run.rows = window.contactsModel()->rowCount();
        run.same = fingerprint(window.contactsModel()->contacts()) == expected;
        std::printf("run %d: event loop back %lld ms, first rows painted %lld ms, complete %lld ms (%d contacts, %s), "
                    "longest stall %lld ms, CPU %lld ms\n",
                    r + 1, run.back, run.firstRows, run.complete, run.rows,
                    run.same ? "same as listContacts" : "DIFFERENT", run.stall, run.cpu);
        if (!run.same)
            return 2;
        back << run.back;
        first << run.firstRows;
        complete << run.complete;
        stall << run.stall;
        cpu << run.cpu;
    }
    std::printf("%s%s%s, median of %d: event loop back %lld ms, first rows %lld ms, complete %lld ms, longest stall "
                "%lld ms, CPU %lld ms\n",
                atOnce ? "at once on the GUI thread" : "selection in the window", settle ? ", settled" : "",
                keyword.isEmpty() ? "" : qPrintable(QStringLiteral(", keyword \"%1\"").arg(keyword)), runs,
                median(back), median(first), median(complete), median(stall), median(cpu));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installEnglishTranslation(app);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("--prepare") && args.size() == 2)
        return prepare(args.at(1).toInt());
    const bool atOnce = args.contains(QStringLiteral("--at-once"));
    const qsizetype k = args.indexOf(QStringLiteral("--keyword"));
    const qsizetype r = args.indexOf(QStringLiteral("--runs"));
    const QString keyword = k >= 0 ? args.value(k + 1) : QString();
    const int runs = r >= 0 ? args.value(r + 1).toInt() : 3;
    return measure(atOnce, args.contains(QStringLiteral("--settle")), keyword, std::max(runs, 1));
}
