#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QPair>
#include <QString>

// A person as the iOS address book keeps it: the ABPerson columns and the multi-values (phones, e-mails,
// addresses, dates, IM accounts, URLs, related names) with their labels ("_$!<Mobile>!$_", a custom text, or
// none) and, for addresses and IM accounts, their entries (key, value).
struct AbPerson
{
    struct MultiValue
    {
        int property = 0; // 3 phone, 4 e-mail, 5 address, 12 date, 13 IM, 22 URL, 23 related name
        QString label;    // null: no label row
        QString value;
        QList<QPair<QString, QString>> entries;
    };

    QString first, last, middle, prefix, suffix, nickname;
    QString organization, department, jobTitle, note;
    QDate birthday; // year 1604 when the card gives no year
    bool isCompany = false;
    QList<MultiValue> values;
    QByteArray photo;
};

// Seconds from 2001-01-01 00:00:00 UTC to noon UTC of the date, as the address book stores dates.
qint64 abDateSeconds(const QDate &date);

// A small vCard 2.1/3.0/4.0 reader for backup-maker's seed files: unfolding, quoted-printable, Base64 photos,
// backslash escapes, item groups with X-ABLabel. Cards without N or FN are skipped.
QList<AbPerson> readVCardFile(const QByteArray &data);
