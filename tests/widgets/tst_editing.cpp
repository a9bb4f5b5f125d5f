// The contact editor and its dialogs: which change records an edit gives, what the stored result then is, the
// checks of the edit dialog and the group dialog. Stored contacts live in a real local database.

#include "contactfixtures.h"
#include "contacts/combinerule.h"
#include "contacts/contactchanges.h"
#include "contacts/contactname.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "widgets/contacteditor.h"
#include "widgets/editcontactform.h"
#include "widgets/entitieseditors.h"
#include "widgets/groupform.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using fixtures::row;
using pim::ChangeRecord;

namespace {

// Stores a contact with all its rows and returns it as read back (with the stored ids).
pim::Contact store(LocalDb &db, pim::Contact contact)
{
    db.insertContact(contact);
    for (auto it = contact.entities.begin(); it != contact.entities.end(); ++it)
        for (pim::DataRow &r : it.value()) {
            if (it.key() == pim::ENTITY_GROUP)
                r.setValue(u"data1"_s, QString::number(db.findOrCreateGroup(r.text(u"data2"_s))));
            db.insertRow(contact._id, it.key(), r);
        }
    return db.loadContact(contact._id);
}

pim::DataRow withSrcId(pim::DataRow r, const QString &srcId)
{
    r.src_id = srcId;
    return r;
}

// A contact with something of everything the editor shows, and some things it does not.
pim::Contact anna()
{
    pim::Contact c = fixtures::person(u"Anna"_s, u"Berg"_s);
    c.addRow(pim::ENTITY_PHONE, withSrcId(row({{1, u"555 0100"_s}, {2, u"2"_s}}), u"3/1/101/1002"_s));
    c.addRow(pim::ENTITY_PHONE, row({{1, u"555 0199"_s}, {2, u"0"_s}, {3, u"Boat"_s}}));
    c.addRow(pim::ENTITY_EMAIL, row({{1, u"anna@example.org"_s}, {2, u"1"_s}}));
    c.addRow(pim::ENTITY_EVENT, row({{1, u"1980-02-29"_s}, {2, u"3"_s}}));
    c.addRow(pim::ENTITY_EVENT, row({{1, u"--05-12"_s}, {2, u"1"_s}})); // no year: the date edit cannot show it
    c.addRow(pim::ENTITY_IM, row({{1, u"anna.b"_s}, {2, u"1"_s}, {5, u"4"_s}}));
    c.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Acme"_s}, {4, u"Engineer"_s}, {5, u"R&D"_s}, {9, u"Floor 3"_s}}));
    c.addRow(pim::ENTITY_ORGANIZATION, row({{1, u"Choir"_s}, {4, u"Alto"_s}}));
    c.addRow(pim::ENTITY_ADDRESS, row({{2, u"1"_s},
                                       {4, u"1 Main St"_s},
                                       {5, u"PO 7"_s},
                                       {7, u"Springfield"_s},
                                       {9, u"12345"_s},
                                       {10, u"USA"_s}}));
    c.addRow(pim::ENTITY_NOTE, row({{1, u"likes tea"_s}}));
    c.addRow(pim::ENTITY_GROUP, row({{2, u"Friends"_s}}));
    return c;
}

QString writeImage(const QTemporaryDir &dir, const QString &name, const char *format, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = dir.filePath(name);
    image.save(path, format);
    return path;
}

QList<QPair<int, int>> kinds(const QList<ChangeRecord> &changes)
{
    QList<QPair<int, int>> result;
    for (const ChangeRecord &c : changes)
        result.append({c.type, c.action});
    return result;
}

} // namespace

class TestEditing : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<LocalDb> m_db;
    LocalDbCombineRule m_rule;

    // The editor filled with a stored contact, and the changes after an edit.
    QList<ChangeRecord> changesAfter(const pim::Contact &stored, const std::function<void(ContactEditor &)> &edit)
    {
        ContactEditor editor;
        editor.setContact(stored);
        edit(editor);
        return getChanges(m_rule, stored, editor.currentContact());
    }

private Q_SLOTS:
    void initTestCase() { installEnglishTranslation(*QCoreApplication::instance()); }
    void init()
    {
        m_db = std::make_unique<LocalDb>(m_dir.filePath(u"edit.db"_s), PContactCombineRule(new LocalDbCombineRule));
        m_db->createFromTemplate();
    }
    void cleanup() { m_db.reset(); }

    // Only what the user changed becomes a change record; everything left alone, including what the form does
    // not show (memberships, a second organization, an unshown address part, a date without a year), stays.
    void changeRecordsOfAnEdit()
    {
        const pim::Contact stored = store(*m_db, anna());
        QVERIFY(changesAfter(stored, [](ContactEditor &) {}).isEmpty());

        const QList<ChangeRecord> phone =
            changesAfter(stored, [](ContactEditor &e) { e.phones()->valueEdit(0)->setText(u"555 0111 "_s); });
        QCOMPARE(phone.size(), 1);
        QCOMPARE(phone[0].type, int(pim::ENTITY_PHONE));
        QCOMPARE(phone[0].action, int(pim::ACTION_UPDATED));
        QCOMPARE(phone[0].row._id, stored.rows(pim::ENTITY_PHONE)[0]._id);
        QCOMPARE(phone[0].row.src_id, u"3/1/101/1002"_s);
        QCOMPARE(phone[0].row.text(u"data1"_s), u"555 0111"_s);

        // A cleared entry and a removed entry are both deletions of their stored rows.
        const QList<ChangeRecord> cleared = changesAfter(stored, [](ContactEditor &e) {
            e.phones()->valueEdit(1)->setText(u"  "_s);
            QTest::mousePress(e.emails()->removeButton(0), Qt::LeftButton);
        });
        QCOMPARE(kinds(cleared), (QList<QPair<int, int>>{{pim::ENTITY_PHONE, pim::ACTION_DELETED},
                                                         {pim::ENTITY_EMAIL, pim::ACTION_DELETED}}));
        QCOMPARE(cleared[0].row._id, stored.rows(pim::ENTITY_PHONE)[1]._id);
        QCOMPARE(cleared[1].row._id, stored.rows(pim::ENTITY_EMAIL)[0]._id);

        // A new name updates the name row and carries the display name.
        const QList<ChangeRecord> renamed =
            changesAfter(stored, [](ContactEditor &e) { e.field(u"txtPrefix"_s)->setText(u"Dr"_s); });
        QCOMPARE(kinds(renamed), (QList<QPair<int, int>>{{pim::ENTITY_NAME, pim::ACTION_UPDATED}}));
        QCOMPARE(renamed[0].row.text(u"data1"_s), u"Dr Anna Berg"_s);

        // A changed date is written as an ISO date-time; the one without a year stays as it is.
        const QList<ChangeRecord> dated =
            changesAfter(stored, [](ContactEditor &e) { e.dates()->dateEdit(0)->setDate(QDate(1981, 3, 1)); });
        QCOMPARE(kinds(dated), (QList<QPair<int, int>>{{pim::ENTITY_EVENT, pim::ACTION_UPDATED}}));
        QCOMPARE(dated[0].row.text(u"data1"_s), u"1981-03-01T00:00:00"_s);

        // An edited address keeps the part the form does not show.
        const QList<ChangeRecord> moved = changesAfter(
            stored, [](ContactEditor &e) { e.addresses()->partEdit(0, u"data7"_s)->setText(u"Shelbyville"_s); });
        QCOMPARE(kinds(moved), (QList<QPair<int, int>>{{pim::ENTITY_ADDRESS, pim::ACTION_UPDATED}}));
        QCOMPARE(moved[0].row.text(u"data1"_s), u"1 Main St\nShelbyville, 12345\nUSA"_s);
        QCOMPARE(moved[0].row.text(u"data5"_s), u"PO 7"_s);
    }

    // The type combo box: a table name in any letter case is that type's code, anything else a custom label.
    void typeComboChoices()
    {
        const pim::Contact stored = store(*m_db, fixtures::person(u"Bo"_s, u"Lind"_s));
        const QList<ChangeRecord> added = changesAfter(stored, [](ContactEditor &e) {
            for (const QString &type : {u"mobile"_s, u" WORK FAX "_s, u"Boat"_s}) {
                e.phones()->add();
                const int i = e.phones()->entryCount() - 1;
                e.phones()->typeCombo(i)->setEditText(type);
                e.phones()->valueEdit(i)->setText(u"555 %1"_s.arg(i));
            }
            e.phones()->add(); // left empty: not stored
            e.ims()->add();
            e.ims()->protocolCombo(0)->setEditText(u"skype"_s);
            e.ims()->handleEdit(0)->setText(u"bo.l"_s);
        });
        QCOMPARE(kinds(added), (QList<QPair<int, int>>{{pim::ENTITY_PHONE, pim::ACTION_ADDED},
                                                       {pim::ENTITY_PHONE, pim::ACTION_ADDED},
                                                       {pim::ENTITY_PHONE, pim::ACTION_ADDED},
                                                       {pim::ENTITY_IM, pim::ACTION_ADDED}}));
        QCOMPARE(added[0].row.text(u"data2"_s), u"2"_s);
        QCOMPARE(added[0].row.text(u"data3"_s), QString());
        QCOMPARE(added[1].row.text(u"data2"_s), u"4"_s);
        QCOMPARE(added[2].row.text(u"data2"_s), u"0"_s);
        QCOMPARE(added[2].row.text(u"data3"_s), u"Boat"_s);
        QCOMPARE(added[3].row.text(u"data2"_s), u"1"_s);
        QCOMPARE(added[3].row.text(u"data5"_s), u"4"_s);
        QCOMPARE(added[3].row.text(u"data6"_s), QString());
    }

    void photos()
    {
        QTemporaryDir files;
        const pim::Contact stored = store(*m_db, anna());
        ContactEditor editor;
        editor.setContact(stored);
        QVERIFY(!editor.setPhotoFromFile(m_dir.filePath(u"edit.db"_s)));
        QVERIFY(editor.photo().isEmpty());
        QVERIFY(editor.setPhotoFromFile(writeImage(files, u"wide.png"_s, "PNG", 800, 400)));
        QImage shown;
        QVERIFY(shown.loadFromData(editor.photo(), "JPEG"));
        QCOMPARE(shown.size(), QSize(320, 160));
        QList<ChangeRecord> changes = getChanges(m_rule, stored, editor.currentContact());
        QCOMPARE(kinds(changes), (QList<QPair<int, int>>{{pim::ENTITY_PHOTO, pim::ACTION_ADDED}}));
        QCOMPARE(changes[0].row.text(u"data4"_s), pim::photoDigest(changes[0].row));

        // Stored, then deleted with the link.
        pim::Contact saved = stored;
        applyChanges(*m_db, saved, changes);
        saved = m_db->loadContact(saved._id);
        QVERIFY(changesAfter(saved, [](ContactEditor &) {}).isEmpty());
        const QList<ChangeRecord> removed = changesAfter(saved, [](ContactEditor &e) { e.resetPhoto(); });
        QCOMPARE(kinds(removed), (QList<QPair<int, int>>{{pim::ENTITY_PHOTO, pim::ACTION_DELETED}}));
        QCOMPARE(removed[0].row._id, saved.firstRow(pim::ENTITY_PHOTO)._id);
    }

    // Applying the records stores exactly the edit: the stored contact, read back, gives no further changes.
    void applyingChanges()
    {
        ContactEditor editor;
        editor.setContact(pim::Contact());
        editor.field(u"txtFirstName"_s)->setText(u" Cleo "_s);
        editor.field(u"txtLastName"_s)->setText(u"Park"_s);
        editor.field(u"txtCompany"_s)->setText(u"Acme"_s);
        editor.notes()->setPlainText(u"met at the fair\n"_s);
        editor.websites()->add();
        editor.websites()->valueEdit(0)->setText(u"https://cleo.example"_s);
        QList<ChangeRecord> changes = getChanges(m_rule, pim::Contact(), editor.currentContact());
        pim::Contact contact;
        applyChanges(*m_db, contact, changes);
        QVERIFY(contact._id != 0);
        QCOMPARE(contact.full_name, u"Cleo Park"_s);
        for (const ChangeRecord &c : changes)
            QVERIFY(c.row._id != 0); // the sending thread names the rows by these ids

        const pim::Contact stored = m_db->loadContact(contact._id);
        QCOMPARE(stored.full_name, u"Cleo Park"_s);
        QCOMPARE(stored.firstRow(pim::ENTITY_NAME).text(u"data1"_s), u"Cleo Park"_s);
        QCOMPARE(stored.firstRow(pim::ENTITY_NOTE).text(u"data1"_s), u"met at the fair"_s);
        QCOMPARE(stored.rowCount(), 4);
        QVERIFY(changesAfter(stored, [](ContactEditor &) {}).isEmpty());

        QList<ChangeRecord> rename =
            changesAfter(stored, [](ContactEditor &e) { e.field(u"txtLastName"_s)->setText(u"Parks"_s); });
        pim::Contact renamed = stored;
        applyChanges(*m_db, renamed, rename);
        QCOMPARE(m_db->loadContact(contact._id).full_name, u"Cleo Parks"_s);
        QCOMPARE(m_db->findContactByName(u"Cleo Parks"_s), contact._id);
    }

    // A company alone is a contact of its own, shown by its company; renaming the company renames it, and a
    // person's name given later makes it that person.
    void companyContact()
    {
        QStringList warnings;
        EditContactForm form(pim::Contact(), m_db.get());
        form.setWarningHandler([&](const QString &text) { warnings << text; });
        form.show();
        form.editor()->field(u"txtCompany"_s)->setText(u"Acme Ltd"_s);
        form.onBtnSavePressed();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));

        QList<ChangeRecord> changes = getChanges(m_rule, pim::Contact(), form.editor()->currentContact());
        pim::Contact contact;
        applyChanges(*m_db, contact, changes);
        pim::Contact stored = m_db->loadContact(contact._id);
        QCOMPARE(stored.full_name, u"Acme Ltd"_s);
        QVERIFY(pim::isCompanyContact(stored));

        QList<ChangeRecord> renamed =
            changesAfter(stored, [](ContactEditor &e) { e.field(u"txtCompany"_s)->setText(u"Acme Group"_s); });
        applyChanges(*m_db, stored, renamed);
        QCOMPARE(m_db->loadContact(contact._id).full_name, u"Acme Group"_s);

        stored = m_db->loadContact(contact._id);
        QList<ChangeRecord> person =
            changesAfter(stored, [](ContactEditor &e) { e.field(u"txtFirstName"_s)->setText(u"Ada"_s); });
        applyChanges(*m_db, stored, person);
        QCOMPARE(m_db->loadContact(contact._id).full_name, u"Ada"_s);
        QVERIFY(!pim::isCompanyContact(m_db->loadContact(contact._id)));
    }

    void editDialogChecks()
    {
        store(*m_db, anna());
        QStringList warnings;
        EditContactForm form(pim::Contact(), m_db.get());
        QCOMPARE(form.title(), u"Add New Contact"_s);
        form.setWarningHandler([&](const QString &text) { warnings << text; });
        form.show();

        form.editor()->field(u"txtMiddleName"_s)->setText(u"Maria"_s);
        form.onBtnSavePressed();
        form.editor()->field(u"txtFirstName"_s)->setText(u"anna"_s);
        form.editor()->field(u"txtMiddleName"_s)->clear();
        form.editor()->field(u"txtLastName"_s)->setText(u" berg"_s);
        form.onBtnSavePressed();
        QCOMPARE(warnings, (QStringList{u"Enter a first name, a last name or a company."_s,
                                        u"Contact anna berg has already existed."_s}));
        QVERIFY(form.isVisible());

        // Escape and the keypad Enter do nothing, wherever the focus is.
        form.editor()->field(u"txtLastName"_s)->setText(u"Bergström"_s);
        QTest::keyClick(form.editor()->field(u"txtLastName"_s), Qt::Key_Escape);
        QTest::keyClick(&form, Qt::Key_Escape);
        QTest::keyClick(form.editor()->field(u"txtFirstName"_s), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(form.isVisible());

        bool answer = false;
        QStringList questions;
        form.setQuestionHandler([&](const QString &text) {
            questions << text;
            return answer;
        });
        form.onBtnCancelPressed();
        QVERIFY(form.isVisible());
        form.onBtnSavePressed();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(warnings.size(), 2);

        EditContactForm edit(m_db->loadContact(m_db->findContactByName(u"Anna Berg"_s)), nullptr);
        QCOMPARE(edit.title(), u"Edit Contact Anna Berg"_s);
        edit.setQuestionHandler([&](const QString &text) {
            questions << text;
            return answer;
        });
        edit.show();
        answer = true;
        edit.onBtnCancelPressed();
        QVERIFY(!edit.isVisible());
        QCOMPARE(edit.result(), int(QDialog::Rejected));
        QCOMPARE(questions, QStringList(2, u"Discard the editing?"_s));
    }

    void groups()
    {
        pim::Contact a = store(*m_db, anna());
        pim::Contact b = store(*m_db, fixtures::person(u"Bo"_s, u"Lind"_s));
        const qint64 friends = m_db->findOrCreateGroup(u"Friends"_s);
        QStringList questions;

        GroupForm::queueAnswer(u"  FRIENDS "_s);
        GroupForm existing(m_db.get());
        QCOMPARE(existing.exec(), int(QDialog::Accepted));
        QCOMPARE(existing.groupName(), u"Friends"_s);
        QCOMPARE(existing.groupId(), friends);

        GroupForm::queueAnswer(u"Choir"_s);
        GroupForm created(m_db.get());
        QCOMPARE(created.exec(), int(QDialog::Accepted));
        QCOMPARE(created.groupId(), qint64(0));
        const QList<pim::Contact> choir = setContactsGroup(*m_db, {a, b}, created.groupId(), created.groupName());
        QCOMPARE(choir[0].rows(pim::ENTITY_GROUP).size(), 1); // the one membership replaces the old one
        QCOMPARE(choir[1].firstRow(pim::ENTITY_GROUP).text(u"data2"_s), u"Choir"_s);
        QCOMPARE(m_db->listContacts(m_db->findOrCreateGroup(u"Choir"_s), QString()).size(), 2);

        // No name: a confirmed choice of "no group" takes the contacts out of their groups.
        GroupForm::queueAnswer(u""_s);
        GroupForm::queueAnswer(u" "_s);
        GroupForm none(m_db.get());
        none.setQuestionHandler([&](const QString &text) {
            questions << text;
            return questions.size() == 2; // "no" the first time, "yes" the second
        });
        QCOMPARE(none.exec(), int(QDialog::Accepted));
        QCOMPARE(questions, QStringList(2, u"Confirm to remove seleted member from the Group?"_s));
        QVERIFY(none.groupName().isEmpty());
        const QList<pim::Contact> ungrouped = setContactsGroup(*m_db, {a}, none.groupId(), none.groupName());
        QVERIFY(!ungrouped[0].hasRows(pim::ENTITY_GROUP));
        QCOMPARE(m_db->loadContact(b._id).rows(pim::ENTITY_GROUP).size(), 1);
    }
};

QTEST_MAIN(TestEditing)
#include "tst_editing.moc"
