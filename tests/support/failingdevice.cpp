#include "failingdevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

FailingDevice::FailingDevice(QByteArray content, qint64 failAt, OpenMode mode)
    : m_content(std::move(content)), m_failAt(failAt)
{
    open(mode | QIODevice::Unbuffered);
}

qint64 FailingDevice::readData(char *data, qint64 max)
{
    if (m_pos >= m_failAt) {
        setErrorString(QStringLiteral("disk unreadable"));
        return -1;
    }
    const qint64 n = std::min({max, m_failAt - m_pos, qint64(m_content.size()) - m_pos});
    if (n > 0)
        std::memcpy(data, m_content.constData() + m_pos, size_t(n));
    m_pos += n;
    return n;
}

qint64 FailingDevice::writeData(const char *data, qint64 size)
{
    if (qint64(m_written.size()) >= m_failAt) {
        setErrorString(QStringLiteral("disk full"));
        return -1;
    }
    const qint64 n = std::min(size, m_failAt - qint64(m_written.size()));
    m_written.append(data, n);
    return n;
}
