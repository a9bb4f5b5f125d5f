// startup-run [--bare]: starts the program's main window as the program does (translation, keep-awake, the
// window with its tree of databases and devices) and quits at the window's first paint; with --bare, a plain
// QMainWindow instead, the reference. Timed as whole processes by scripts/bench.sh.
// The watchers that end other programs (adb servers, iTunes) are left out: on a machine shared with other work
// they would end processes that are not ours, and they run in threads of their own after the window is up.
// startup-run --prepare DBS CONTACTS: fills the data folder (under HOME) with DBS local databases of CONTACTS
// contacts each.

#include "app/mainwindow.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/keepawake.h"
#include "core/texts.h"
#include "fileio/vcard.h"
#include "vcardgen.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Quits the application once any widget of a main window has been painted.
class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()) {
            if (qobject_cast<QMainWindow *>(static_cast<QWidget *>(watched)->window())) {
                m_seen = true;
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
        }
        return false;
    }

private:
    bool m_seen = false;
};

int prepare(int dbs, int contacts)
{
    for (int d = 0; d < dbs; ++d) {
        LocalDb db(
            LocalDbFiles::pathFor(LocalDbFiles::fileNameFor(QStringLiteral("bench%1").arg(d, 2, 10, QLatin1Char('0')))),
            PContactCombineRule(new LocalDbCombineRule));
        db.createFromTemplate();
        db.beginTransaction();
        for (const pim::Contact &c : vcard::contactsFromBytes(generateMixedVCards(contacts, d * contacts)))
            db.saveContactWithMerge(c);
        db.endTransaction(true);
    }
    std::printf("%d databases in %s\n", dbs, qPrintable(DataFolder::localDbDir()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QStringLiteral("--prepare") && args.size() == 3)
        return prepare(args.at(1).toInt(), args.at(2).toInt());

    FirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    if (args.value(0) == QStringLiteral("--bare")) {
        QMainWindow window;
        window.resize(1000, 700);
        window.show();
        return QApplication::exec();
    }
    KeepAwake keepAwake;
    installEnglishTranslation(app);
    auto window = std::make_unique<MainWindow>();
    window->show();
    return QApplication::exec();
}
