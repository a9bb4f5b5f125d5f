#pragma once

#include <QString>

#include <functional>

// The message of the std::exception that run throws; empty when it throws none.
QString errorOf(const std::function<void()> &run);
