#pragma once

#include "core/progress.h"

#include <atomic>

// A receiver whose cancel flag turns on after the worker has looked at it a given number of times: a cancel that
// lands at an exact point of the worker's loop.
class CancelAfterChecks : public ProgressObject
{
public:
    explicit CancelAfterChecks(int checks) : m_left(checks) {}
    bool finishedWithoutSuccess() const override { return m_left.fetch_sub(1) <= 0; }

private:
    mutable std::atomic<int> m_left;
};
