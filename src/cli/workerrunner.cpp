#include "cli/workerrunner.h"

#include "core/privatetemp.h"
#include "core/progress.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <stdexcept>
#include <unistd.h>

namespace cli {

namespace {

std::atomic<bool> interrupted{false};
std::atomic<int> interrupts{0};
std::atomic<int> watchers{0};

extern "C" void onInterrupt(int sig)
{
    // While something watches for it, the first Ctrl-C or SIGTERM cancels through the worker's flag. Otherwise,
    // and for a second signal, the program ends at once, taking its private folders of deciphered files with it.
    if (watchers.load() == 0 || interrupts.fetch_add(1) > 0) {
        PrivateTempDir::removeAllNow();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    interrupted.store(true);
}

// Ctrl-C (SIGINT) and SIGTERM cancel while a watcher is alive; scopes nest, and the count of signals starts
// again when the outermost one begins.
struct InterruptGuard
{
    InterruptGuard()
    {
        installInterruptHandler();
        if (watchers.fetch_add(1) == 0) {
            interrupted.store(false);
            interrupts.store(0);
        }
    }
    ~InterruptGuard() { watchers.fetch_sub(1); }
};

// Decides which progress updates get a line: a new status or percentage always, a new text alone at most every
// fifth of a second. Workers report every contact; ten thousand lines would cost more than the work.
class ProgressLines
{
public:
    bool accept(const QString &status, int value, const QString &text)
    {
        const bool step = status != m_status || value != m_value;
        if (!step && (text == m_text || (m_clock.isValid() && m_clock.elapsed() < 200)))
            return false;
        m_status = status;
        m_value = value;
        m_text = text;
        m_clock.start();
        return true;
    }

private:
    QString m_status;
    int m_value = -1;
    QString m_text;
    QElapsedTimer m_clock;
};

} // namespace

void installInterruptHandler()
{
    static const bool installed = [] {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        return true;
    }();
    Q_UNUSED(installed);
}

InterruptScope::InterruptScope() : m_guard(new InterruptGuard)
{
}

InterruptScope::~InterruptScope()
{
    delete static_cast<InterruptGuard *>(m_guard);
}

bool InterruptScope::requested() const
{
    return interrupted.load();
}

int runWorker(QThread &worker, ProgressObject &progress, Io io)
{
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    ProgressLines lines;
    bool printed = false;
    QObject::connect(&progress, &ProgressObject::progressChanged, &progress,
                     [&](const QString &status, int value, const QString &text) {
                         if (!lines.accept(status, value, text))
                             return;
                         printed = true;
                         const QString line = QStringLiteral("%1 %2% %3").arg(status).arg(value, 3).arg(text);
                         if (terminal) {
                             const int filled = value / 5;
                             io.err << "\r[" << QString(filled, QLatin1Char('#'))
                                    << QString(20 - filled, QLatin1Char(' ')) << "] " << line << "\x1b[K";
                         } else {
                             io.err << line << '\n';
                         }
                         io.err.flush();
                     });

    InterruptGuard guard;
    QEventLoop loop;
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, &progress, [&] {
        if (interrupted.exchange(false))
            progress.cancel();
    });
    interruptPoll.start(50);
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);

    worker.start(QThread::InheritPriority);
    if (!worker.isFinished())
        loop.exec();
    worker.wait();
    // Posts made just before the thread ended are still queued: deliver them.
    QCoreApplication::sendPostedEvents(&progress);
    if (terminal && printed)
        io.err << '\n';

    switch (progress.outcome()) {
    case ProgressObject::Outcome::Succeeded:
        io.out << progress.message() << '\n';
        return Success;
    case ProgressObject::Outcome::Cancelled:
        io.err << "Cancelled.\n";
        return Cancelled;
    case ProgressObject::Outcome::Failed:
        io.err << progress.message() << '\n';
        return Failure;
    case ProgressObject::Outcome::Running:
        break;
    }
    io.err << "The operation ended without a result.\n";
    return Failure;
}

void runLoader(QThread &worker, ProgressObject &progress, const char *fallbackError)
{
    QTextStream err(stderr);
    ProgressLines lines;
    QObject::connect(&progress, &ProgressObject::progressChanged, &progress,
                     [&](const QString &status, int value, const QString &text) {
                         if (lines.accept(status, value, text))
                             err << QStringLiteral("%1 %2% %3").arg(status).arg(value, 3).arg(text) << Qt::endl;
                     });
    InterruptGuard guard;
    QEventLoop loop;
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, &progress, [&] {
        if (interrupted.exchange(false))
            progress.cancel();
    });
    interruptPoll.start(50);
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker.start();
    if (!worker.isFinished())
        loop.exec();
    worker.wait();
    QCoreApplication::sendPostedEvents(&progress); // posts made just before the thread ended
    if (progress.outcome() == ProgressObject::Outcome::Cancelled)
        throw CancelledByUser();
    if (progress.outcome() != ProgressObject::Outcome::Succeeded)
        throw std::runtime_error(progress.message().isEmpty() ? std::string(fallbackError)
                                                              : progress.message().toStdString());
}

} // namespace cli
