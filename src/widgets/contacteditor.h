#pragma once

#include "contacts/pim.h"

#include <QByteArray>
#include <QMap>
#include <QScrollArea>

#include <functional>

class AddrEntitiesEditor;
class DateEntitiesEditor;
class GenericEntitiesEditor;
class IMEntitiesEditor;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The scrolling form of the edit dialog: the photo, single fields for the name, nickname, organization and note,
// and one list editor per kind of multi-valued row. It returns the contact as edited, each row carrying the _id,
// src_id and unshown columns of the stored row it was filled from.
class ContactEditor : public QScrollArea
{
    Q_OBJECT
public:
    // Asks for a picture file with this filter; an empty answer means cancelled.
    using OpenFileNameHandler = std::function<QString(const QString &filter)>;

    explicit ContactEditor(QWidget *parent = nullptr);

    // Fills the form from the contact, replacing whatever it showed.
    void setContact(const pim::Contact &contact);

    // The contact as edited: the current name row (its display name in data1), the photo row when there is a
    // photo, the nickname, organization and note rows, the rows of every list editor, and the rows the form does
    // not show (group memberships, and further nickname, organization and note rows), which stay as they were.
    pim::Contact currentContact() const;
    pim::DataRow currentNameRow() const;

    // The photo bytes (JPEG for a picked picture); empty when there is none.
    const QByteArray &photo() const { return m_photo; }
    // Loads a JPEG or PNG file as the photo, scaled to fit 320 × 320 and stored as JPEG. False, with nothing
    // changed, when the file is neither.
    bool setPhotoFromFile(const QString &path);
    void setOpenFileNameHandler(OpenFileNameHandler handler) { m_openFileName = std::move(handler); }

    // A single field by its name: "txtPrefix", "txtFirstName", "txtMiddleName", "txtLastName", "txtSuffix",
    // "txtNickname", "txtJobTitle", "txtDepartment", "txtCompany"; null for any other.
    QLineEdit *field(const QString &name) const;
    QPlainTextEdit *notes() const { return m_txtNotes; }
    GenericEntitiesEditor *phones() const { return m_phones; }
    GenericEntitiesEditor *emails() const { return m_emails; }
    DateEntitiesEditor *dates() const { return m_dates; }
    IMEntitiesEditor *ims() const { return m_ims; }
    GenericEntitiesEditor *relations() const { return m_relations; }
    AddrEntitiesEditor *addresses() const { return m_addresses; }
    GenericEntitiesEditor *websites() const { return m_websites; }

public Q_SLOTS:
    // Drops the photo and shows the empty picture (the "Delete Photo" link).
    void resetPhoto(const QString &link = QString());

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildContent();
    QWidget *createHeader();
    void showPhoto();
    void pickPhoto();

    QWidget *m_content = nullptr;
    QLabel *m_lbPhoto = nullptr;
    QLabel *m_lbDeletePhoto = nullptr; // shown only while there is a photo to delete
    QMap<QString, QLineEdit *> m_fields;
    QPlainTextEdit *m_txtNotes = nullptr;
    GenericEntitiesEditor *m_phones = nullptr;
    GenericEntitiesEditor *m_emails = nullptr;
    DateEntitiesEditor *m_dates = nullptr;
    IMEntitiesEditor *m_ims = nullptr;
    GenericEntitiesEditor *m_relations = nullptr;
    AddrEntitiesEditor *m_addresses = nullptr;
    GenericEntitiesEditor *m_websites = nullptr;

    pim::Contact m_stored; // _id, src_id and full name of the contact being edited
    QByteArray m_photo;
    pim::DataRow m_nameRow, m_photoRow, m_nicknameRow, m_organizationRow, m_noteRow; // the stored single rows
    QMap<int, QList<pim::DataRow>> m_unshown; // stored rows the form does not show
    OpenFileNameHandler m_openFileName;
};
