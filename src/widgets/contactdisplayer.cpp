#include "widgets/contactdisplayer.h"

#include <optional>

#include "core/texts.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPhotoSize = 128;
const QString kPhotoName = u"imgPhoto"_s;

// Every label of the view lets the user select its text with the mouse and wraps long lines.
QLabel *textLabel(const QString &text, Qt::TextFormat format, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(format);
    label->setText(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

ContactDisplayer::ContactDisplayer(QWidget *parent) : QScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    newContent();
    installContent();
}

void ContactDisplayer::clear()
{
    m_contact = pim::Contact();
    newContent();
    installContent();
}

// Starts a new, empty content widget. installContent puts it in place only once it is filled: labels added to a
// content widget already on screen would stay hidden.
void ContactDisplayer::newContent()
{
    m_content = new QWidget;
    m_content->setObjectName(u"wdContactContent"_s);
    m_layout = new QVBoxLayout(m_content);
    m_layout->setContentsMargins(15, 0, 15, 15);
}

// The old content is only scheduled for deletion: this may run while one of its labels is still handling an event.
void ContactDisplayer::installContent()
{
    if (QWidget *old = takeWidget()) {
        old->hide();
        old->deleteLater();
    }
    setWidget(m_content);
    fitContentWidth();
}

void ContactDisplayer::setContact(const pim::Contact &contact)
{
    m_contact = contact;
    newContent();

    m_layout->addWidget(createHeader(), 0, Qt::AlignTop);

    addSection(pim::ENTITY_PHONE, trKey("Phone:"), m_contact.rows(pim::ENTITY_PHONE));
    addSection(pim::ENTITY_EMAIL, trKey("E-Mail:"), m_contact.rows(pim::ENTITY_EMAIL));
    addSection(pim::ENTITY_EVENT, trKey("Date:"), m_contact.rows(pim::ENTITY_EVENT));
    addSection(pim::ENTITY_IM, trKey("IM:"), m_contact.rows(pim::ENTITY_IM));
    // The first organization is part of the name block; only the further ones get a section.
    addSection(pim::ENTITY_ORGANIZATION, trKey("Organization:"), m_contact.rows(pim::ENTITY_ORGANIZATION).mid(1));
    addSection(pim::ENTITY_RELATION, trKey("Relationship:"), m_contact.rows(pim::ENTITY_RELATION));
    addSection(pim::ENTITY_ADDRESS, trKey("Address:"), m_contact.rows(pim::ENTITY_ADDRESS));
    addSection(pim::ENTITY_WEBSITE, trKey("Website:"), m_contact.rows(pim::ENTITY_WEBSITE));
    addSection(pim::ENTITY_NOTE, trKey("Notes:"), m_contact.rows(pim::ENTITY_NOTE));

    installContent();
}

// The photo (clickable when it is a readable picture) beside the name block.
QWidget *ContactDisplayer::createHeader()
{
    auto *header = new QWidget(m_content);
    header->setObjectName(u"wdContactHeader"_s);
    auto *layout = new QHBoxLayout(header);

    auto *photo = new QLabel(header);
    photo->setObjectName(kPhotoName);
    photo->setAccessibleName(kPhotoName);
    photo->setFixedSize(kPhotoSize, kPhotoSize);
    photo->setStyleSheet(u"border:1px solid #A9A9A9;"_s);
    photo->setAlignment(Qt::AlignCenter);

    QImage image;
    if (m_contact.hasRows(pim::ENTITY_PHOTO)) {
        const QByteArray bytes = m_contact.firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray();
        if (!image.loadFromData(bytes, "JPEG"))
            image.loadFromData(bytes, "PNG");
    }
    if (!image.isNull()) {
        photo->setPixmap(QPixmap::fromImage(image.scaledToWidth(kPhotoSize, Qt::SmoothTransformation)));
        photo->installEventFilter(this);
        photo->setCursor(Qt::PointingHandCursor);
    } else {
        photo->setPixmap(QPixmap(u":res/empty_contact.png"_s));
    }
    layout->addWidget(photo, 0, Qt::AlignTop);

    // Plain text: a name is shown as written, even when it looks like markup.
    auto *name = textLabel(nameBlockText(), Qt::PlainText, header);
    name->setObjectName(u"lbContactName"_s);
    name->setStyleSheet(u"font-size:21px;font-weight:bold;font-style:italic"_s);
    layout->addWidget(name, 1, Qt::AlignTop);
    return header;
}

// Full name, then the first nickname in quotes, then job title, department and company of the first organization.
QString ContactDisplayer::nameBlockText() const
{
    QString text = m_contact.full_name;
    const QString nickname = m_contact.firstRow(pim::ENTITY_NICKNAME).text(u"data1"_s);
    if (!nickname.isEmpty())
        text += u"\n\""_s + nickname + u'"';
    if (m_contact.hasRows(pim::ENTITY_ORGANIZATION)) {
        const pim::DataRow org = m_contact.firstRow(pim::ENTITY_ORGANIZATION);
        const QString title = org.text(u"data4"_s);
        const QString department = org.text(u"data5"_s);
        const QString company = org.text(u"data1"_s);
        if (!title.isEmpty())
            text += u'\n' + title;
        // The department follows the title on its line; without a title it gets a line of its own rather than
        // being appended to the name.
        if (!department.isEmpty())
            text += (title.isEmpty() ? u"\n"_s : u" - "_s) + department;
        if (!company.isEmpty())
            text += u'\n' + company;
    }
    return text;
}

void ContactDisplayer::addSection(int type, const QString &caption, const QList<pim::DataRow> &rows)
{
    if (rows.isEmpty())
        return;
    auto *section = new QWidget(m_content);
    section->setObjectName(u"wdContactSection"_s);
    section->setStyleSheet(u"font-size:16px;"_s);
    auto *layout = new QVBoxLayout(section);

    auto *captionLabel = new QLabel(caption, section);
    captionLabel->setObjectName(u"lbSectionCaption"_s);
    captionLabel->setTextFormat(Qt::PlainText);
    captionLabel->setStyleSheet(u"font-size:18px;font-style:italic;font-weight:bold;"_s);
    layout->addWidget(captionLabel, 0, Qt::AlignTop);

    const Qt::TextFormat format = isRichTextRow(type) ? Qt::RichText : Qt::PlainText;
    for (const pim::DataRow &row : rows) {
        auto *label = textLabel(rowText(type, row), format, section);
        label->setObjectName(u"lbSectionRow"_s);
        layout->addWidget(label, 0, Qt::AlignTop);
    }
    m_layout->addWidget(section, 0, Qt::AlignTop);
}

QString ContactDisplayer::rowText(int type, const pim::DataRow &row)
{
    switch (type) {
    case pim::ENTITY_EVENT: {
        const QDate date = eventDate(row);
        const QString dateText = date.isValid() ? QLocale::system().toString(date, QLocale::ShortFormat) : QString();
        return pim::label(pim::LabelFamily::Event, row) + u": "_s + dateText;
    }
    case pim::ENTITY_ADDRESS:
        // The only rich-text row: label and address lines are escaped, the markup is ours.
        return pim::summaryLineHtml(type, row);
    default: {
        // A blank after the label's colon: "Mobile: +44 7700 900123" reads as a label and a number.
        QString line = pim::summaryLine(type, row);
        std::optional<pim::LabelFamily> family;
        switch (type) {
        case pim::ENTITY_PHONE:
            family = pim::LabelFamily::Phone;
            break;
        case pim::ENTITY_EMAIL:
            family = pim::LabelFamily::Email;
            break;
        case pim::ENTITY_IM:
            family = pim::LabelFamily::ImType;
            break;
        case pim::ENTITY_ORGANIZATION:
            family = pim::LabelFamily::Organization;
            break;
        case pim::ENTITY_RELATION:
            family = pim::LabelFamily::Relation;
            break;
        case pim::ENTITY_WEBSITE:
            family = pim::LabelFamily::Website;
            break;
        default:
            break;
        }
        const QString label = family ? pim::label(*family, row) + u':' : QString();
        if (family && line.startsWith(label))
            line.insert(label.size(), u' ');
        return line;
    }
    }
}

QDate ContactDisplayer::eventDate(const pim::DataRow &row)
{
    const QVariant value = row.value(u"data1"_s);
    if (value.typeId() == QMetaType::QDate)
        return value.toDate();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date();

    // The date part as written: a time zone in the text does not move the date.
    const QString text = value.toString().trimmed();
    const QDateTime dateTime = QDateTime::fromString(text, Qt::ISODate);
    if (dateTime.isValid())
        return dateTime.date();
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return date;
    // The basic form, 19800229 or 19800229T103000Z.
    static const QRegularExpression basic(
        uR"(^(\d{4})(\d{2})(\d{2})(?:T\d{2}(?:\d{2}(?:\d{2}(?:[.,]\d+)?)?)?(?:Z|[+-]\d{2}(?:\d{2})?)?)?$)"_s);
    const QRegularExpressionMatch match = basic.match(text);
    if (match.hasMatch())
        return QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    return {};
}

bool ContactDisplayer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *label = qobject_cast<QLabel *>(watched);
        if (label && label->accessibleName() == kPhotoName &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            savePhoto();
            return true;
        }
    } else if (watched == m_content && event->type() == QEvent::LayoutRequest) {
        // Fonts from style sheets arrive when the content is polished; fit again to the height they need.
        fitContentWidth();
    }
    return QScrollArea::eventFilter(watched, event);
}

void ContactDisplayer::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    fitContentWidth();
}

// The content is as wide as the visible area (there is no horizontal scrolling) and as tall as its wrapped text
// needs at that width.
void ContactDisplayer::fitContentWidth()
{
    if (!m_content)
        return;
    const int width = viewport()->width();
    m_content->ensurePolished();
    const int height =
        m_layout->hasHeightForWidth() ? m_layout->totalHeightForWidth(width) : m_layout->totalSizeHint().height();
    if (m_content->size() != QSize(width, height))
        m_content->resize(width, height);
}

// Writes the first photo row's bytes unchanged, whatever their format, to a file the user names.
void ContactDisplayer::savePhoto()
{
    const QByteArray bytes = m_contact.firstRow(pim::ENTITY_PHOTO).value(u"data15"_s).toByteArray();
    // A name is not a path: a slash in it must not point the proposal into another folder.
    QString baseName = m_contact.full_name;
    baseName.replace(u'/', u'_');
    if (baseName.trimmed().isEmpty())
        baseName = u"photo"_s;
    const QString proposed = QDir::home().filePath(baseName + u".jpg"_s);

    const QString fileName =
        m_saveFileName ? m_saveFileName(proposed) : QFileDialog::getSaveFileName(this, QString(), proposed);
    if (fileName.isEmpty())
        return;

    const auto warn = [this](const QString &error) {
        const QString text = error.toHtmlEscaped();
        if (m_warning) {
            m_warning(text);
            return;
        }
        QMessageBox box(QMessageBox::Warning, Product::title(), text, QMessageBox::Ok, this);
        box.setTextFormat(Qt::RichText);
        box.exec();
    };
    // Through a temporary file: a failed write leaves no half picture behind and is reported, not taken as done.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        warn(file.errorString());
        return;
    }
    if (file.write(bytes) != bytes.size() || !file.commit())
        warn(file.errorString());
}
