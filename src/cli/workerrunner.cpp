#include "workerrunner.h"

#include "progress.h"
#include <QCoreApplication>

#include <QEventLoop>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <csignal>
#include <unistd.h>

namespace cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

// Restores the previous Ctrl-C behaviour when the run ends.
struct InterruptGuard
{
    using Handler = void (*)(int);
    Handler previous;
    InterruptGuard() : previous(std::signal(SIGINT, onInterrupt)) { interrupted.store(false); }
    ~InterruptGuard() { std::signal(SIGINT, previous); }
};

} // namespace

int runWorker(QThread &worker, ProgressObject &progress, Io io)
{
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    QString lastLine;
    QObject::connect(&progress, &ProgressObject::progressChanged, &progress,
                     [&](const QString &status, int value, const QString &text) {
                         const QString line = QStringLiteral("%1 %2% %3").arg(status).arg(value, 3).arg(text);
                         if (terminal) {
                             const int filled = value / 5;
                             io.err << "\r[" << QString(filled, QLatin1Char('#')) << QString(20 - filled, QLatin1Char(' '))
                                    << "] " << line << "\x1b[K";
                         } else if (line != lastLine) {
                             io.err << line << '\n';
                         }
                         io.err.flush();
                         lastLine = line;
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
    if (terminal && !lastLine.isEmpty())
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
    QString last;
    QObject::connect(&progress, &ProgressObject::progressChanged, &progress,
                     [&](const QString &status, int value, const QString &text) {
                         const QString line = QStringLiteral("%1 %2% %3").arg(status).arg(value, 3).arg(text);
                         if (line != last)
                             err << line << Qt::endl;
                         last = line;
                     });
    QEventLoop loop;
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker.start();
    if (!worker.isFinished())
        loop.exec();
    worker.wait();
    QCoreApplication::sendPostedEvents(&progress); // posts made just before the thread ended
    if (progress.outcome() != ProgressObject::Outcome::Succeeded)
        throw std::runtime_error(progress.message().isEmpty() ? std::string(fallbackError)
                                                              : progress.message().toStdString());
}

} // namespace cli
