#include "scopedenv.h"

#include <ctime>

ScopedEnv::ScopedEnv(const char *name, const QByteArray &value)
    : m_name(name), m_old(qgetenv(name)), m_wasSet(qEnvironmentVariableIsSet(name))
{
    qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (m_wasSet)
        qputenv(m_name.constData(), m_old);
    else
        qunsetenv(m_name.constData());
}

ScopedTimeZone::ScopedTimeZone(const QByteArray &zone) : m_env(std::make_unique<ScopedEnv>("TZ", zone))
{
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    m_env.reset(); // the earlier TZ first, then the C library reads it again
    tzset();
}
