#include "cli.h"
#include "texts.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    installEnglishTranslation(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = cli::run(QCoreApplication::arguments().mid(1), cli::Io{out, err});
    out.flush();
    err.flush();
    return code;
}
