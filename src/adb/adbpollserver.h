#pragma once

// The poller's state on the adb server route (private to the adb library).

#include "adb/adbpoll.h"
#include "adb/adbserver.h"

#include <QMap>
#include <QSet>

#include <memory>
#include <mutex>

struct AdbPoll::Server
{
    quint16 port = 0;
    std::unique_ptr<adbserver::Tracker> tracker;
    // The links of the handles made so far, by poller key; filled by the openers in the pool.
    struct Links
    {
        std::mutex mutex;
        QMap<QString, std::weak_ptr<adbserver::ServerLink>> byKey;
    };
    std::shared_ptr<Links> links = std::make_shared<Links>();
    QSet<QString> listed; // keys the server listed in the last round
    QString lastError;
};
