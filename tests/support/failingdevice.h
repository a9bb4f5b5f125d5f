#pragma once

#include <QByteArray>
#include <QIODevice>

// A sequential device that breaks after a number of bytes, as a disk or pipe that fails mid-way. Opened for reading
// it gives the first failAt bytes of its content, then every read fails; opened for writing it takes failAt bytes,
// then every write fails. The failure carries errorString() "disk unreadable" or "disk full".
class FailingDevice : public QIODevice
{
public:
    FailingDevice(QByteArray content, qint64 failAt, OpenMode mode = QIODevice::ReadOnly);
    bool isSequential() const override { return true; }
    // What a writer managed to put down before the failure.
    const QByteArray &written() const { return m_written; }

protected:
    qint64 readData(char *data, qint64 max) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    QByteArray m_content;
    QByteArray m_written;
    qint64 m_failAt;
    qint64 m_pos = 0;
};
