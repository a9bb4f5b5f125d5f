#pragma once

#include <QHash>
#include <QSet>
#include <QStringList>

class QTextStream;

namespace cli {

enum ExitCode { Success = 0, Failure = 1, UsageError = 2, Cancelled = 3 };

// What one command run writes to: results to out, progress and errors to err.
struct Io
{
    QTextStream &out;
    QTextStream &err;
};

// Runs one command line (without the program name). Never throws.
int run(const QStringList &args, Io io);

// Thrown by commands for a bad command line; run() prints the text with the usage and returns UsageError.
struct UsageException
{
    QString message;
};

// Thrown when Ctrl-C or SIGTERM cancelled a worker whose caller cannot go on; run() returns Cancelled.
struct CancelledByUser
{
};

// Parsed "--name value" options and flags of one command; positional arguments in order.
class Options
{
public:
    // valueOptions take a value; flags do not. Unknown options throw UsageException.
    Options(const QStringList &args, const QStringList &valueOptions, const QStringList &flags);

    bool has(const QString &name) const { return m_values.contains(name) || m_flags.contains(name); }
    QString value(const QString &name) const { return m_values.value(name); }
    QString required(const QString &name) const;
    const QStringList &positional() const { return m_positional; }
    QString positional(int i, const QString &what) const;

private:
    QHash<QString, QString> m_values;
    QSet<QString> m_flags;
    QStringList m_positional;
};

} // namespace cli
