#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

// Sets an environment variable for the life of the object. Afterwards the variable holds its earlier value again,
// or is unset when it had none, so a test that fails half-way leaves no setting behind for the next one.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value);
    ~ScopedEnv();
    Q_DISABLE_COPY_MOVE(ScopedEnv)

private:
    QByteArray m_name;
    QByteArray m_old;
    bool m_wasSet;
};

// Points the C library and Qt's local time at another zone (TZ) for the life of the object; afterwards the earlier
// zone holds again, also when a test ends early on a failed check.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const QByteArray &zone);
    ~ScopedTimeZone();
    Q_DISABLE_COPY_MOVE(ScopedTimeZone)

private:
    std::unique_ptr<ScopedEnv> m_env;
};
