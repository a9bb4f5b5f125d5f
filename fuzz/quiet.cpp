// Linked into every fuzz target: the parsers' debug and warning lines (dropped lines, bad records) would
// flood the output at thousands of inputs a second. Fatal messages still end the process.

#include <QtGlobal>

namespace {
[[maybe_unused]] const bool installed = [] {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return true;
}();
} // namespace
