#include "app/startup.h"

#include "android/adbkillserverthread.h"
#include "android/adbsetup.h"
#include "android/win32killprocessesthread.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "core/datafolder.h"
#include "core/keepawake.h"
#include "core/texts.h"
#include "sqlite_qt/sqlite_qt.h"

#include <QApplication>
#include <QCoreApplication>

#include <memory>

namespace Startup {

int run(QApplication &app)
{
    // Keep the machine awake for as long as the process runs; released when this scope ends.
    KeepAwake keepAwake;

    installEnglishTranslation(app);

    if (sqlite_qt_version() != kRequiredSqliteVersion) {
        // This key has no entry in the translation and is shown as written.
        MessageBox::error(nullptr, trKey("invalid libsqlite_qt."));
        return 1;
    }
    // A data folder that cannot be found (its redirect names a missing folder) stops the start with the reason.
    if (const QString problem = DataFolder::problem(); !problem.isEmpty()) {
        MessageBox::error(nullptr, MessageBox::escaped(problem));
        return 1;
    }

    // How this run reaches Android phones: through an adb server that already runs, else over USB directly.
    const bool endAdbServer = AdbSetup::endServerRequested(QCoreApplication::arguments());
    const adbroute::Route route = AdbSetup::chooseRoute(endAdbServer);

    // Other programs that grab the phones (iTunes) are ended once a second while we run.
    auto processWatcher = std::make_unique<Win32KillProcessesThread>();
    processWatcher->addDefaultNames();
    QObject::connect(processWatcher.get(), &Win32KillProcessesThread::noticeRequested, processWatcher.get(),
                     [](const QString &text) { MessageBox::information(nullptr, text); });
    processWatcher->start();
    // An adb server that starts while we drive the phones ourselves is ended only when the user says so: by
    // the option, or by answering the question (No is the default).
    std::unique_ptr<AdbKillServerThread> adbWatcher;
    if (route.kind == adbroute::Kind::Direct) {
        adbWatcher = std::make_unique<AdbKillServerThread>();
        adbWatcher->setPolicy(endAdbServer ? AdbKillServerThread::Policy::End : AdbKillServerThread::Policy::Ask);
        AdbKillServerThread *watcher = adbWatcher.get();
        QObject::connect(
            watcher, &AdbKillServerThread::endQuestion, watcher,
            [watcher](qint64 pid, const QString &name, const QString &path) {
                const bool end = MessageBox::questionDefaultNo(
                    nullptr, AdbSetup::endServerQuestion(pid, MessageBox::escaped(name), MessageBox::escaped(path)));
                watcher->answer(pid, end);
            });
        adbWatcher->start();
    }

    auto window = std::make_unique<MainWindow>();
    window->show();
    const int code = QApplication::exec();
    window.reset(); // the window goes first, before the watchers it may still use
    adbWatcher.reset();
    processWatcher.reset();
    return code;
}

} // namespace Startup
