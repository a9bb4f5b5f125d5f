#include "fileio/htmlexport.h"

#include "core/texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace pim;

namespace {

constexpr char kEol[] = "\r\n";

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

void addLine(QByteArray &out, const QString &text)
{
    out += text.toUtf8();
    out += kEol;
}

// The image in a photo row: JPEG first, then PNG; a null image when the bytes are neither.
QImage photoImage(const DataRow &photo)
{
    const QByteArray bytes = photo.value(u"data15"_s).toByteArray();
    QImage image;
    if (bytes.isEmpty())
        return image;
    if (!image.loadFromData(bytes, "JPG"))
        image.loadFromData(bytes, "PNG");
    return image;
}

struct Section
{
    int type;
    const char16_t *caption;
};

constexpr Section kSections[] = {{ENTITY_PHONE, u"Phone:"},
                                 {ENTITY_EMAIL, u"E-Mail:"},
                                 {ENTITY_EVENT, u"Date:"},
                                 {ENTITY_IM, u"IM:"},
                                 {ENTITY_ORGANIZATION, u"Organization:"},
                                 {ENTITY_RELATION, u"Relationship:"},
                                 {ENTITY_ADDRESS, u"Address:"},
                                 {ENTITY_WEBSITE, u"Website:"},
                                 {ENTITY_NOTE, u"Notes:"}};

} // namespace

HtmlExport::HtmlExport(const QString &folder) : m_photoFolder(QDir(folder).filePath(u"photos"_s))
{
}

QByteArray HtmlExport::header(const QList<Contact> &)
{
    if (!QDir().mkpath(m_photoFolder))
        throw std::runtime_error(
            u"Cannot create the folder %1."_s.arg(QDir::toNativeSeparators(m_photoFolder)).toStdString());
    const QString picture = QDir(m_photoFolder).filePath(u"contact.png"_s);
    // An existing default picture is kept; a copy of the built-in one is made writable like any other file.
    if (!QFileInfo::exists(picture) && QFile::copy(u":res/empty_contact.png"_s, picture))
        QFile::setPermissions(picture, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

    QByteArray out;
    addLine(out, u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                 "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"_s);
    addLine(out, u"<html xmlns=\"http://www.w3.org/1999/xhtml\">"_s);
    addLine(out, u"<head>"_s);
    addLine(out, u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"_s);
    addLine(out, u"<title>%1</title>"_s.arg(esc(Product::title())));
    addLine(out, u"<style type=\"text/css\">"_s);
    addLine(out, u".photo{float:left;margin:5px;border:1px solid #A9A9A9;}"_s);
    addLine(out, u".ct_name{font-size:24px;font-weight:bold;font-style:italic;margin-bottom:20px;}"_s);
    addLine(out, u".ent_group{padding:0;margin:0;font-size:20px; font-weight:bold; font-style:italic}"_s);
    addLine(out, u".ent_list{margin:0; padding:0; list-style:none; font-size:18px}"_s);
    addLine(out, u"</style></head>"_s);
    addLine(out, u"<body style=\"background-color:#F1F5FB\">"_s);
    return out;
}

QString HtmlExport::savePhoto(const Contact &contact)
{
    const QImage image = photoImage(contact.firstRow(ENTITY_PHOTO));
    if (image.isNull())
        return {};
    const QString name = contact._id > 0 ? u"%1.jpg"_s.arg(contact._id) : u"new%1.jpg"_s.arg(++m_unstored);
    if (!image.save(QDir(m_photoFolder).filePath(name), "JPG"))
        return {};
    return name;
}

QByteArray HtmlExport::exportContact(const Contact &contact)
{
    QByteArray out;
    addLine(out, u"<div style=\"margin-bottom:50px;\">"_s);
    const QString photo = savePhoto(contact);
    addLine(out, u"<img class=\"photo\" src=\"photos/%1\" width=\"128\" />"_s.arg(photo.isEmpty() ? u"contact.png"_s
                                                                                                  : photo));
    addLine(out, u"<div class=\"ct_name\">"_s);

    QString name = esc(contact.full_name);
    const QString nickname = contact.firstRow(ENTITY_NICKNAME).text(u"data1"_s);
    if (!nickname.isEmpty())
        name += u"<br/>\""_s + esc(nickname) + u'"';
    const DataRow org = contact.firstRow(ENTITY_ORGANIZATION);
    if (const QString title = org.text(u"data4"_s); !title.isEmpty())
        name += u"<br/>"_s + esc(title);
    if (const QString department = org.text(u"data5"_s); !department.isEmpty())
        name += u" - "_s + esc(department);
    if (const QString company = org.text(u"data1"_s); !company.isEmpty())
        name += u"<br/>"_s + esc(company);
    out += name.toUtf8();
    out += kEol;
    addLine(out, u"</div><div style=\"clear:both\"></div>"_s);

    for (const Section &section : kSections) {
        QList<DataRow> rows = contact.rows(section.type);
        // The first organization stands in the name block; a section lists the others.
        if (section.type == ENTITY_ORGANIZATION)
            rows = rows.mid(1);
        if (rows.isEmpty())
            continue;
        addLine(out, u"<div style=\"margin-bottom:20px;\">"_s);
        addLine(out, u"<h2 class=\"ent_group\">"_s + QString::fromUtf16(section.caption) + u"</h2>"_s);
        addLine(out, u"<ul class=\"ent_list\">"_s);
        for (const DataRow &row : std::as_const(rows))
            addLine(out, u"<li>%1</li>"_s.arg(summaryLineHtml(section.type, row)));
        addLine(out, u"</ul>"_s);
        addLine(out, u"</div>"_s);
    }
    addLine(out, u"</div>"_s);
    return out;
}

QByteArray HtmlExport::footer()
{
    return "</body></html>";
}
