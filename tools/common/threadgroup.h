#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// Threads of a simulator that must all be joined before their owner goes; finished ones are reaped as
// new ones start, so a long-running simulator does not pile them up.
class ThreadGroup
{
public:
    ~ThreadGroup() { joinAll(); }
    void start(std::function<void()> fn)
    {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(m_mutex);
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if (*it->done) {
                it->thread.join();
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
        m_threads.push_back({std::thread([fn = std::move(fn), done] {
                                 fn();
                                 *done = true;
                             }),
                             done});
    }
    void joinAll()
    {
        for (;;) {
            std::list<Entry> taken;
            {
                std::lock_guard lock(m_mutex);
                if (m_threads.empty())
                    return;
                taken.swap(m_threads);
            }
            for (Entry &e : taken)
                e.thread.join();
        }
    }

private:
    struct Entry
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_mutex;
    std::list<Entry> m_threads;
};
