#pragma once

#include "cli/cli.h"

class QThread;
class ProgressObject;

namespace cli {
// Makes Ctrl-C and SIGTERM end the program at once, after removing its private folders of deciphered files; a
// watcher (InterruptScope, runWorker) turns the first one into a cancel. Called by run() before any command.
void installInterruptHandler();

// While alive, the first Ctrl-C or SIGTERM is not fatal: requested() turns true and the step that watches it
// ends as cancelled. For long steps outside a worker thread (a password check, reading a file table).
class InterruptScope
{
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope &) = delete;
    InterruptScope &operator=(const InterruptScope &) = delete;
    bool requested() const;

private:
    void *m_guard;
};

// Runs a worker thread to its end with a widget-free progress receiver: progress to stderr (a bar on a terminal,
// a line per change otherwise), the success text to stdout. Ctrl-C cancels through the worker's flag, as a
// confirmed cancel in the window does. The worker must post to `progress`. Returns the exit code.

int runWorker(QThread &worker, ::ProgressObject &progress, Io io);

// Runs a loading worker (a phone read into its cache): progress lines to stderr, its (empty) success text
// nowhere; throws std::runtime_error with the worker's error text, or `fallbackError` when it gave none, and
// CancelledByUser when Ctrl-C or SIGTERM cancelled it.
void runLoader(QThread &worker, ::ProgressObject &progress, const char *fallbackError);
} // namespace cli
