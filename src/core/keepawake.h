#pragma once

#include <memory>

// Keeps the computer from sleeping or idling while the object lives: a systemd-logind "sleep:idle" block
// inhibitor when the system bus answers, else the desktop's ScreenSaver inhibition on the session bus, else
// nothing (silently: a machine without either bus simply cannot sleep on our behalf anyway).
class KeepAwake
{
public:
    enum class Method { None, Logind, ScreenSaver };

    KeepAwake();
    ~KeepAwake();
    KeepAwake(const KeepAwake &) = delete;
    KeepAwake &operator=(const KeepAwake &) = delete;

    Method method() const;
    // Ends the inhibition early; the destructor calls it too.
    void release();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
