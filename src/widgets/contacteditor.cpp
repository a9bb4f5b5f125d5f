#include "widgets/contacteditor.h"

#include "core/texts.h"
#include "widgets/entitieseditors.h"

#include <QBuffer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using pim::DataRow;

namespace {

constexpr int kPhotoShown = 64;
constexpr int kPhotoStored = 320;

// The single fields: object name, placeholder key, the row they belong to and its column.
struct SingleField
{
    const char *name;
    const char *placeholder;
    int type;
    const char *column;
};

constexpr SingleField kFields[] = {
    {"txtPrefix", "Prefix", pim::ENTITY_NAME, "data5"},
    {"txtFirstName", "First Name", pim::ENTITY_NAME, "data2"},
    {"txtMiddleName", "Middle Name", pim::ENTITY_NAME, "data4"},
    {"txtLastName", "Last Name", pim::ENTITY_NAME, "data3"},
    {"txtSuffix", "Suffix", pim::ENTITY_NAME, "data6"},
    {"txtNickname", "Nickname", pim::ENTITY_NICKNAME, "data1"},
    {"txtJobTitle", "Job Title", pim::ENTITY_ORGANIZATION, "data4"},
    {"txtDepartment", "Department", pim::ENTITY_ORGANIZATION, "data5"},
    {"txtCompany", "Company", pim::ENTITY_ORGANIZATION, "data1"},
};

// Types with one row in the form: the first stored row is edited, the others are kept as they are.
constexpr int kSingleShownTypes[] = {pim::ENTITY_NICKNAME, pim::ENTITY_ORGANIZATION, pim::ENTITY_NOTE};

} // namespace

ContactEditor::ContactEditor(QWidget *parent) : QScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The form takes the width of the dialog, whatever rows are added: fields narrow instead of running off
    // its right edge (there is no horizontal scroll bar to reach them).
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // Fully transparent, so that the dialog's background shows through.
    QPalette transparent = palette();
    transparent.setColor(QPalette::Window, QColor(0, 255, 0, 0));
    setPalette(transparent);
    viewport()->setPalette(transparent);
    buildContent();
}

void ContactEditor::buildContent()
{
    if (QWidget *old = takeWidget())
        old->deleteLater();
    m_fields.clear();

    m_content = new QWidget;
    m_content->setObjectName(u"wdEditorContent"_s);
    QPalette transparent = m_content->palette();
    transparent.setColor(QPalette::Window, QColor(0, 255, 0, 0));
    m_content->setPalette(transparent);

    auto *layout = new QVBoxLayout(m_content);
    layout->setContentsMargins(20, 10, 20, 10);
    layout->setSpacing(3);
    layout->addWidget(createHeader());

    const auto table = [](pim::LabelFamily family) { return pim::labelTable(family); };
    m_phones =
        new GenericEntitiesEditor(trKey("Phone:"), trKey("Phone Number"), table(pim::LabelFamily::Phone), 2, m_content);
    m_emails = new GenericEntitiesEditor(trKey("E-Mail:"), trKey("E-Mail Address"), table(pim::LabelFamily::Email), 1,
                                         m_content);
    m_dates = new DateEntitiesEditor(trKey("Date (year-month-day):"), table(pim::LabelFamily::Event), 3, m_content);
    m_ims = new IMEntitiesEditor(trKey("IM:"), table(pim::LabelFamily::ImType), 1, table(pim::LabelFamily::ImProtocol),
                                 0, m_content);
    m_relations = new GenericEntitiesEditor(trKey("Relationshp:"), trKey("Name"), table(pim::LabelFamily::Relation), 1,
                                            m_content);
    m_addresses = new AddrEntitiesEditor(trKey("Address:"), table(pim::LabelFamily::Address), 1, m_content);
    m_websites = new GenericEntitiesEditor(trKey("Url:"), trKey("Url"), table(pim::LabelFamily::Website), 1, m_content);
    const std::pair<QWidget *, const char *> lists[] = {
        {m_phones, "wdPhones"},       {m_emails, "wdEmails"},       {m_dates, "wdDates"},      {m_ims, "wdIMs"},
        {m_relations, "wdRelations"}, {m_addresses, "wdAddresses"}, {m_websites, "wdWebsites"}};
    for (const auto &[editor, name] : lists) {
        editor->setObjectName(QLatin1String(name));
        layout->addWidget(editor, 0, Qt::AlignTop);
    }

    auto *notesRow = new QHBoxLayout;
    notesRow->setContentsMargins(0, 6, 0, 0);
    notesRow->addWidget(new QLabel(trKey("Notes:"), m_content), 0, Qt::AlignTop);
    m_txtNotes = new QPlainTextEdit(m_content);
    m_txtNotes->setObjectName(u"txtNotes"_s);
    m_txtNotes->setMaximumHeight(80);
    m_txtNotes->setTabChangesFocus(true);
    notesRow->addWidget(m_txtNotes);
    layout->addLayout(notesRow);

    setWidget(m_content);
    showPhoto();
}

QWidget *ContactEditor::createHeader()
{
    auto *header = new QWidget(m_content);
    header->setObjectName(u"wdEditorHeader"_s);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);

    auto *photoColumn = new QVBoxLayout;
    m_lbPhoto = new QLabel(header);
    m_lbPhoto->setObjectName(u"lbPhoto"_s);
    m_lbPhoto->setFixedSize(kPhotoShown, kPhotoShown);
    m_lbPhoto->setCursor(Qt::PointingHandCursor);
    m_lbPhoto->installEventFilter(this);
    photoColumn->addWidget(m_lbPhoto, 0, Qt::AlignLeft | Qt::AlignTop);
    m_lbDeletePhoto = new QLabel(trKey("<a href=\"#\">Delete Photo</a>"), header);
    m_lbDeletePhoto->setObjectName(u"lbDeletePhoto"_s);
    m_lbDeletePhoto->setAlignment(Qt::AlignCenter);
    connect(m_lbDeletePhoto, &QLabel::linkActivated, this, &ContactEditor::resetPhoto);
    photoColumn->addWidget(m_lbDeletePhoto);
    photoColumn->addStretch();
    row->addLayout(photoColumn);

    auto *fieldColumn = new QVBoxLayout;
    for (const SingleField &field : kFields) {
        auto *edit = new QLineEdit(header);
        edit->setObjectName(QLatin1String(field.name));
        edit->setPlaceholderText(trKey(field.placeholder));
        fieldColumn->addWidget(edit);
        m_fields.insert(QLatin1String(field.name), edit);
    }
    row->addLayout(fieldColumn);
    return header;
}

QLineEdit *ContactEditor::field(const QString &name) const
{
    return m_fields.value(name);
}

void ContactEditor::setContact(const pim::Contact &contact)
{
    buildContent();
    m_stored = contact;
    m_stored.entities.clear();
    m_unshown.clear();

    m_nameRow = contact.firstRow(pim::ENTITY_NAME);
    m_photoRow = contact.firstRow(pim::ENTITY_PHOTO);
    m_nicknameRow = contact.firstRow(pim::ENTITY_NICKNAME);
    m_organizationRow = contact.firstRow(pim::ENTITY_ORGANIZATION);
    m_noteRow = contact.firstRow(pim::ENTITY_NOTE);
    m_photo = m_photoRow.value(u"data15"_s).toByteArray();

    for (const SingleField &field : kFields) {
        const DataRow &row = field.type == pim::ENTITY_NAME       ? m_nameRow
                             : field.type == pim::ENTITY_NICKNAME ? m_nicknameRow
                                                                  : m_organizationRow;
        m_fields.value(QLatin1String(field.name))->setText(row.text(QLatin1String(field.column)));
    }
    m_txtNotes->setPlainText(m_noteRow.text(u"data1"_s));

    const std::pair<int, AbsEntitiesEditor *> lists[] = {
        {pim::ENTITY_PHONE, m_phones},    {pim::ENTITY_EMAIL, m_emails},       {pim::ENTITY_EVENT, m_dates},
        {pim::ENTITY_IM, m_ims},          {pim::ENTITY_RELATION, m_relations}, {pim::ENTITY_ADDRESS, m_addresses},
        {pim::ENTITY_WEBSITE, m_websites}};
    for (const auto &[type, editor] : lists)
        for (const DataRow &row : contact.rows(type))
            editor->addRow(row);

    // What the form does not show is kept: an edit must not lose group memberships or a second organization.
    m_unshown.insert(pim::ENTITY_GROUP, contact.rows(pim::ENTITY_GROUP));
    for (int type : kSingleShownTypes)
        m_unshown.insert(type, contact.rows(type).mid(1));
    showPhoto();
}

DataRow ContactEditor::currentNameRow() const
{
    DataRow row = m_nameRow;
    for (const SingleField &field : kFields)
        if (field.type == pim::ENTITY_NAME)
            row.setValue(QLatin1String(field.column), m_fields.value(QLatin1String(field.name))->text().trimmed());
    row.setValue(u"data1"_s, pim::displayName(row));
    return row;
}

pim::Contact ContactEditor::currentContact() const
{
    pim::Contact contact = m_stored;
    contact.addRow(pim::ENTITY_NAME, currentNameRow());

    if (!m_photo.isEmpty()) {
        DataRow photo = m_photoRow;
        photo.setValue(u"data15"_s, m_photo);
        photo.setValue(u"data4"_s, pim::photoDigest(photo));
        contact.addRow(pim::ENTITY_PHOTO, photo);
    }

    const auto fieldText = [this](const char *name) { return m_fields.value(QLatin1String(name))->text().trimmed(); };
    DataRow nickname = m_nicknameRow;
    nickname.setValue(u"data2"_s, u"1"_s);
    nickname.setValue(u"data1"_s, fieldText("txtNickname"));
    contact.addRow(pim::ENTITY_NICKNAME, nickname);

    DataRow organization = m_organizationRow;
    organization.setValue(u"data4"_s, fieldText("txtJobTitle"));
    organization.setValue(u"data5"_s, fieldText("txtDepartment"));
    organization.setValue(u"data1"_s, fieldText("txtCompany"));
    contact.addRow(pim::ENTITY_ORGANIZATION, organization);

    DataRow note = m_noteRow;
    note.setValue(u"data1"_s, m_txtNotes->toPlainText().trimmed());
    contact.addRow(pim::ENTITY_NOTE, note);

    contact.entities.insert(pim::ENTITY_PHONE, m_phones->rows());
    contact.entities.insert(pim::ENTITY_EMAIL, m_emails->rows());
    contact.entities.insert(pim::ENTITY_EVENT, m_dates->rows());
    contact.entities.insert(pim::ENTITY_IM, m_ims->rows());
    contact.entities.insert(pim::ENTITY_RELATION, m_relations->rows());
    contact.entities.insert(pim::ENTITY_ADDRESS, m_addresses->rows());
    contact.entities.insert(pim::ENTITY_WEBSITE, m_websites->rows());

    for (auto it = m_unshown.cbegin(); it != m_unshown.cend(); ++it)
        contact.entities[it.key()].append(it.value());
    // Types without rows are left out, as a contact read from a database has them.
    for (auto it = contact.entities.begin(); it != contact.entities.end();)
        it = it.value().isEmpty() ? contact.entities.erase(it) : std::next(it);
    return contact;
}

bool ContactEditor::setPhotoFromFile(const QString &path)
{
    QImage image;
    if (!image.load(path, "JPEG") && !image.load(path, "PNG"))
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.scaled(kPhotoStored, kPhotoStored, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(&buffer, "JPEG"))
        return false;
    m_photo = bytes;
    showPhoto();
    return true;
}

void ContactEditor::resetPhoto(const QString &)
{
    m_photo.clear();
    showPhoto();
}

void ContactEditor::showPhoto()
{
    QImage image;
    if (!m_photo.isEmpty() && !image.loadFromData(m_photo, "JPEG"))
        image.loadFromData(m_photo, "PNG");
    if (image.isNull())
        image.load(u":/res/empty_contact.png"_s);
    m_lbPhoto->setPixmap(QPixmap::fromImage(image.scaledToWidth(kPhotoShown, Qt::SmoothTransformation)));
    m_lbDeletePhoto->setVisible(!m_photo.isEmpty());
}

void ContactEditor::pickPhoto()
{
    const QString filter = trKey("Images (*.png *.jpg)");
    const QString path =
        m_openFileName ? m_openFileName(filter) : QFileDialog::getOpenFileName(this, QString(), QString(), filter);
    if (!path.isEmpty())
        setPhotoFromFile(path); // a file that is no picture is ignored without a message
}

bool ContactEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lbPhoto && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        pickPhoto();
        return true;
    }
    return QScrollArea::eventFilter(watched, event);
}
