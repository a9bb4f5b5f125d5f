#include "vcardgen.h"

#include <QRandomGenerator>

QByteArray generateVCards(int contacts, int photoEvery, int photoBytes)
{
    static const char *given[] = {"Anna", "Mark",   "Zoë",   "Ola",   "Kari",
                                  "Per",  "Jürgen", "Chloé", "Håkon", "Li"};
    static const char *family[] = {"Berg", "Cole", "Adams", "Nordmann", "Hansen", "Müller", "Dubois", "Wang"};
    QRandomGenerator random(20240607);
    QByteArray out;
    out.reserve(qsizetype(contacts) * 420 + qsizetype(contacts / qMax(photoEvery, 1)) * photoBytes * 14 / 10);
    for (int i = 0; i < contacts; ++i) {
        // Unique names (the number is part of the family name), so an empty database takes every contact.
        const QByteArray g = given[i % 10];
        const QByteArray f = QByteArray(family[(i / 10) % 8]) + '-' + QByteArray::number(i);
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += "N:" + f + ';' + g + ";;;\r\n";
        out += "FN:" + g + ' ' + f + "\r\n";
        out += "TEL;TYPE=cell:+47 4" + QByteArray::number(1000000 + i) + "\r\n";
        out += "TEL;TYPE=work,voice:+47 2" + QByteArray::number(2000000 + i) + "\r\n";
        out += "EMAIL;TYPE=internet:" + g.toLower() + '.' + QByteArray::number(i) + "@example.com\r\n";
        out += "ADR;TYPE=home:;;Storgata " + QByteArray::number(i % 200 + 1) + ";Oslo;;0" +
               QByteArray::number(150 + i % 800) + ";Norway\r\n";
        out += "NOTE:Met at the conference in " + QByteArray::number(2000 + i % 24) + "\\, table " +
               QByteArray::number(i % 40) + "\\nCall before noon.\r\n";
        if (photoEvery > 0 && i % photoEvery == 0) {
            QByteArray photo(photoBytes, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(photo.data()), photo.size() / 4);
            const QByteArray base64 = photo.toBase64();
            out += "PHOTO;ENCODING=b;TYPE=JPEG:";
            for (qsizetype p = 0; p < base64.size(); p += 74) {
                if (p > 0)
                    out += "\r\n ";
                out += base64.mid(p, 74);
            }
            out += "\r\n";
        }
        out += "END:VCARD\r\n";
    }
    return out;
}
