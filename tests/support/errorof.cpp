#include "errorof.h"

#include <exception>

QString errorOf(const std::function<void()> &run)
{
    try {
        run();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}
