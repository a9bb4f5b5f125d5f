// Every window and dialog the user meets, opened as the program opens it: no label, button or field is narrower or
// lower than its text needs, no two visible controls overlap, and every control lies inside its window. With
// TB_SCREENSHOT_DIR set each one is also saved as a picture (docs/ holds them, taken under Xvfb).

#include "app/datasourceselform.h"
#include "app/loaditunesbackupdlg.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "core/datafolder.h"
#include "core/texts.h"
#include "temphome.h"
#include "widgets/androidwifiform.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"
#include "widgets/groupform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

namespace {

// The controls whose text must fit: labels with plain one-line text, buttons, line edits, combo boxes.
QList<QWidget *> textControls(QWidget *window)
{
    QList<QWidget *> controls;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window) || w->width() == 0)
            continue;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            // Word-wrapped, rich and picture labels lay themselves out; plain labels must show their whole text.
            if (label->wordWrap() || label->text().isEmpty() || Qt::mightBeRichText(label->text()))
                continue;
            controls << w;
        } else if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w)) {
            controls << w;
        }
    }
    return controls;
}

// Problems of one window: clipped texts, controls outside the window, overlapping controls.
QStringList layoutProblems(QWidget *window)
{
    QStringList problems;
    const QList<QWidget *> controls = textControls(window);
    const QRect inside = window->rect();
    QList<QPair<QWidget *, QRect>> placed;
    for (QWidget *w : controls) {
        const QString name =
            QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
        const QSize hint = w->minimumSizeHint().isValid() ? w->minimumSizeHint() : w->sizeHint();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin();
            if (label->width() < needed && !label->text().contains(QLatin1Char('\n')))
                problems << QStringLiteral("%1 clipped: %2 < %3 (%4)")
                                .arg(name)
                                .arg(label->width())
                                .arg(needed)
                                .arg(label->text());
        } else if (auto *button = qobject_cast<QAbstractButton *>(w); button && !button->text().isEmpty()) {
            if (button->width() < hint.width() || button->height() < hint.height() - 2)
                problems << QStringLiteral("%1 clipped: %2x%3 < %4x%5 (%6)")
                                .arg(name)
                                .arg(button->width())
                                .arg(button->height())
                                .arg(hint.width())
                                .arg(hint.height())
                                .arg(button->text());
        }
        // Inside a scroll area a control may lie beyond the visible part; elsewhere it must be inside the window.
        bool scrolled = false;
        for (QWidget *p = w->parentWidget(); p && p != window; p = p->parentWidget())
            scrolled = scrolled || qobject_cast<QScrollArea *>(p);
        const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!scrolled && !inside.contains(r))
            problems << QStringLiteral("%1 outside the window: %2,%3 %4x%5")
                            .arg(name)
                            .arg(r.x())
                            .arg(r.y())
                            .arg(r.width())
                            .arg(r.height());
        if (!scrolled)
            placed.append({w, r});
    }
    for (int i = 0; i < placed.size(); ++i)
        for (int j = i + 1; j < placed.size(); ++j) {
            QWidget *a = placed[i].first, *b = placed[j].first;
            if (a->isAncestorOf(b) || b->isAncestorOf(a))
                continue;
            // A combo's own line edit and the like belong to it; only siblings in the layout can overlap.
            if (placed[i].second.intersected(placed[j].second).width() > 1 &&
                placed[i].second.intersected(placed[j].second).height() > 1)
                problems << QStringLiteral("%1 \"%2\" overlaps %3 \"%4\"")
                                .arg(QString::fromLatin1(a->metaObject()->className()), a->objectName(),
                                     QString::fromLatin1(b->metaObject()->className()), b->objectName());
        }
    return problems;
}

void shoot(QWidget *window, const QString &file)
{
    const QString dir = qEnvironmentVariable("TB_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        window->grab().save(dir + QLatin1Char('/') + file);
}

// Shows a window as the program would, lets its layout settle, and checks it.
void check(QWidget *window, const QString &file)
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(50);
    const QStringList problems = layoutProblems(window);
    QVERIFY2(problems.isEmpty(), qPrintable(file + QStringLiteral(":\n") + problems.join(u'\n')));
    shoot(window, file);
    window->hide();
}

} // namespace

class TestDialogLayout : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;

private Q_SLOTS:
    void initTestCase()
    {
        installEnglishTranslation(*QCoreApplication::instance());
        m_home = std::make_unique<TempHome>();
    }
    void cleanupTestCase() { m_home.reset(); }

    void windowAndDialogs()
    {
        QDir().mkpath(DataFolder::localDbDir());
        LocalDb db(LocalDbFiles::pathFor(QStringLiteral("Family.db")), PContactCombineRule(new LocalDbCombineRule));
        db.createFromTemplate();
        pim::Contact anna =
            fixtures::person(QStringLiteral("Anna"), QStringLiteral("Berg"), QStringLiteral("+46 70 123 45 67"));
        db.saveContactWithMerge(anna);
        anna = db.loadContact(db.findContactByName(QStringLiteral("Anna Berg")));
        db.findOrCreateGroup(QStringLiteral("Friends"));

        {
            MainWindow window;
            check(&window, QStringLiteral("main-window.png"));
        }
        {
            EditContactForm form(anna, nullptr);
            check(&form, QStringLiteral("edit-contact.png"));
        }
        {
            EditContactForm form(pim::Contact(), &db);
            check(&form, QStringLiteral("add-contact.png"));
        }
        {
            GroupForm form(&db);
            check(&form, QStringLiteral("group.png"));
        }
        {
            LocalDbSelForm form(nullptr, QStringLiteral("Pixel-backup.db"));
            check(&form, QStringLiteral("local-database-choice.png"));
        }
        {
            DataSourceSelForm form;
            form.setDeviceCandidates(
                trKey("IDS_SELECT_IOS_TO_TRANSFER"),
                {{QIcon(QStringLiteral(":/res/iphone.png")), QStringLiteral("Zoë's iPhone"), nullptr},
                 {QIcon(QStringLiteral(":/res/iphone.png")), QStringLiteral("Work iPhone"), nullptr}});
            check(&form, QStringLiteral("device-choice.png"));
        }
        {
            AndroidWIFIForm form;
            check(&form, QStringLiteral("wifi.png"));
        }
        {
            LoadItunesBackupDlg dialog;
            check(&dialog, QStringLiteral("itunes-backups.png"));
        }
        {
            ProgressForm form{QString()};
            check(&form, QStringLiteral("progress.png"));
        }
    }

    // Message boxes wrap long texts instead of cutting them off or growing past the screen, and open centred
    // over the window they belong to.
    void messageBoxesWrapAndOpenOverTheirParent()
    {
        AndroidWIFIForm parent;
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        const QRect screen = parent.screen()->availableGeometry();
        parent.move(screen.center() - QPoint(parent.width() / 2, parent.height() / 2));
        QTRY_VERIFY((parent.frameGeometry().center() - screen.center()).manhattanLength() <= 2);

        const QString folder =
            QStringLiteral("/home/someone/AppData/Roaming/TallowBrook/5D0C2E9A71B84F3C8E6A4B19D27F03E6/data/");
        const QStringList texts = {
            MessageBox::errorText(QStringLiteral(
                "The phone closed the connection while the contacts were being read (batch 7 of 12, contact 163).")),
            QStringLiteral("<p>Data folder:<br/>%1</p>").arg(folder),
            trKey("IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS"),
            trKey("IDS_SUC_IMPORT_%1_TO_LOCALDB_%2_MERGED").arg(1234).arg(56),
        };
        for (const QString &text : texts) {
            QStringList problems;
            bool inspected = false;
            QTimer poll;
            poll.setInterval(20);
            connect(&poll, &QTimer::timeout, this, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box || !box->isVisible())
                    return;
                poll.stop();
                inspected = true;
                const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
                const int needed =
                    label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
                if (needed > label->height())
                    problems << QStringLiteral("text needs %1 px, has %2").arg(needed).arg(label->height());
                if (!label->wordWrap() && label->sizeHint().width() > label->width())
                    problems << QStringLiteral("text needs %1 px wide, has %2")
                                    .arg(label->sizeHint().width())
                                    .arg(label->width());
                if (!screen.contains(box->frameGeometry()))
                    problems << QStringLiteral("box beyond the screen: %1,%2 %3x%4")
                                    .arg(box->x())
                                    .arg(box->y())
                                    .arg(box->width())
                                    .arg(box->height());
                const QPoint off = box->frameGeometry().center() - parent.frameGeometry().center();
                if (off.manhattanLength() > 2)
                    problems << QStringLiteral("box not over its dialog: off by %1,%2").arg(off.x()).arg(off.y());
                box->buttons().first()->click();
            });
            poll.start();
            MessageBox::show(&parent, MessageBox::Icon::Information, text, MessageBox::Ok, true);
            QVERIFY(inspected);
            QVERIFY2(problems.isEmpty(), qPrintable(text + QStringLiteral(":\n") + problems.join(u'\n')));
        }
    }

    // At the default window size every tool bar button shows; in a narrower window the bar offers the rest
    // behind its overflow button.
    void toolBarFitsOrOverflows()
    {
        MainWindow window;
        auto *bar = window.findChild<QToolBar *>(QStringLiteral("toolBar"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const int width : {1100, 560}) {
            window.resize(width, 700);
            QTest::qWait(100);
            QStringList hidden;
            for (QAction *action : bar->actions()) {
                QWidget *button = bar->widgetForAction(action);
                if (button && (!button->isVisible() || !bar->rect().contains(button->geometry())))
                    hidden << action->iconText();
            }
            const auto *overflow = bar->findChild<QWidget *>(QStringLiteral("qt_toolbar_ext_button"));
            if (width == 1100)
                QVERIFY2(hidden.isEmpty(), qPrintable(hidden.join(u',')));
            else // as narrow as the window goes: what does not fit is behind the overflow button
                QVERIFY2(hidden.isEmpty() || (overflow && overflow->isVisible()), qPrintable(hidden.join(u',')));
        }
    }

    // The list's columns share the width of its pane exactly, at the default size, narrower and wider, and
    // when the pane is dragged narrow: no horizontal scroll bar for nothing.
    void contactColumnsFitTheirPane()
    {
        MainWindow window;
        auto *list = window.findChild<QTreeView *>(QStringLiteral("treeContacts"));
        QVERIFY(list);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const QSize size : {QSize(1100, 700), QSize(800, 600), QSize(1600, 1000), QSize(640, 480)}) {
            window.resize(size);
            QTest::qWait(100);
            const QString at = QStringLiteral("%1x%2: columns %3, list %4")
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(list->header()->length())
                                   .arg(list->viewport()->width());
            QVERIFY2(list->header()->length() <= list->viewport()->width(), qPrintable(at));
            QVERIFY2(!list->horizontalScrollBar()->isVisible(), qPrintable(at));
            for (int c = 0; c < list->header()->count(); ++c)
                QVERIFY2(list->columnWidth(c) > 0, qPrintable(at));
        }
    }

    // The contact editor with a row of every kind added stays inside its dialog at the sizes it gets on a
    // 1100x700 and an 800x600 screen: nothing runs off its right edge, the type boxes show their texts, the
    // buttons stay reachable, and "Delete Photo" shows only when there is a photo.
    void editorWithEveryRowKindStaysInsideItsDialog()
    {
        for (const QSize size : {QSize(1060, 660), QSize(760, 560)}) {
            EditContactForm form(pim::Contact(), nullptr);
            form.resize(size);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            auto *editor = form.findChild<ContactEditor *>(QStringLiteral("wdEditContact"));
            QVERIFY(!editor->findChild<QLabel *>(QStringLiteral("lbDeletePhoto"))->isVisibleTo(&form));
            const QList<QAbstractButton *> adds = editor->findChildren<QAbstractButton *>(QStringLiteral("btnAdd"));
            QCOMPARE(adds.size(), 7);
            for (QAbstractButton *add : adds)
                QTest::mouseClick(add, Qt::LeftButton);
            QTest::qWait(50);
            QCOMPARE(form.size(), size);
            QWidget *content = editor->widget();
            QVERIFY2(content->width() <= editor->viewport()->width(),
                     qPrintable(QStringLiteral("%1 > %2").arg(content->width()).arg(editor->viewport()->width())));
            for (QWidget *w : content->findChildren<QWidget *>()) {
                if (!w->isVisibleTo(content))
                    continue;
                const QRect r(w->mapTo(content, QPoint(0, 0)), w->size());
                QVERIFY2(r.right() <= content->width(),
                         qPrintable(w->objectName() + QStringLiteral(" runs off the right edge")));
            }
            for (auto *combo : content->findChildren<QComboBox *>())
                QVERIFY2(combo->width() >= combo->fontMetrics().horizontalAdvance(combo->currentText()) + 20,
                         qPrintable(combo->currentText()));
            for (const char *name : {"btnSave", "btnCancel"}) {
                auto *button = form.findChild<QWidget *>(QLatin1String(name));
                QVERIFY(form.rect().contains(QRect(button->mapTo(&form, QPoint(0, 0)), button->size())));
            }
            const QStringList problems = layoutProblems(&form);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        }
    }
};

QTEST_MAIN(TestDialogLayout)
#include "tst_dialoglayout.moc"
