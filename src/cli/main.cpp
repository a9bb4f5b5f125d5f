#include "cli/cli.h"
#include "core/texts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    // Exporting paints text and pictures (PDF, HTML photos), which needs a GUI application; the tool never
    // shows a window, so it runs on the offscreen platform unless told otherwise.
    std::unique_ptr<QCoreApplication> application;
    if (argc > 1 && qstrcmp(argv[1], "export") == 0) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication &app = *application;
    installEnglishTranslation(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = cli::run(QCoreApplication::arguments().mid(1), cli::Io{out, err});
    out.flush();
    err.flush();
    return code;
}
