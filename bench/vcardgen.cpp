#include "vcardgen.h"

#include <QRandomGenerator>

QByteArray generateVCards(int contacts, int photoEvery, int photoBytes)
{
    static const char *given[] = {"Anna", "Mark", "Zoë", "Ola", "Kari", "Per", "Jürgen", "Chloé", "Håkon", "Li"};
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

QByteArray generateMixedVCards(int contacts, int firstIndex)
{
    static const char *given[] = {"Anna",  "Mark", "Zoë", "Ola", "Kari", "Per",   "Jürgen", "Chloé",
                                  "Håkon", "Li",   "Sam", "Eve", "Noor", "Tomás", "Ingrid", "Yuki"};
    static const char *family[] = {"Berg",   "Cole", "Adams",  "Nordmann", "Hansen",  "Müller",
                                   "Dubois", "Wang", "O'Neil", "Silva",    "Kowalski"};
    static const char *companies[] = {"Acme Ltd", "Fjord Shipping AS", "Café Noir", "Northwind, Inc."};
    constexpr int photoBytes = 20 * 1024;
    QRandomGenerator random(20240611 + quint32(firstIndex));
    QByteArray out;
    out.reserve(qsizetype(contacts) * 560 + qsizetype(contacts / 20 + 1) * photoBytes * 14 / 10);
    for (int n = 0; n < contacts; ++n) {
        const int i = firstIndex + n;
        const QByteArray num = QByteArray::number(i);
        const QByteArray g = given[i % 16];
        const QByteArray f = QByteArray(family[(i / 16) % 11]) + '-' + num;
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        out += "N:" + f + ';' + g + ";;;\r\n";
        out += "FN:" + g + ' ' + f + "\r\n";
        out += "TEL;TYPE=CELL:+47 4" + QByteArray::number(1000000 + i) + "\r\n";
        if (i % 2 == 0)
            out += "TEL;TYPE=WORK,VOICE:+47 2" + QByteArray::number(2000000 + i) + "\r\n";
        if (i % 7 == 3)
            out += "item1.TEL:+1 555 01" + QByteArray::number(i % 100) + "\r\nitem1.X-ABLabel:Cabin\r\n";
        out += "EMAIL;TYPE=INTERNET,HOME:" + g.toLower() + '.' + num + "@example.com\r\n";
        if (i % 3 == 0)
            out += "EMAIL;TYPE=INTERNET,WORK:" + num + "@work.example.org\r\n";
        if (i % 2 == 1)
            out += "ADR;TYPE=HOME:;;Storgata " + QByteArray::number(i % 200 + 1) + ";Oslo;;0" +
                   QByteArray::number(150 + i % 800) + ";Norway\r\n";
        if (i % 4 == 0)
            out += "ORG:" + QByteArray(companies[(i / 4) % 4]).replace(",", "\\,") + ";Sales\r\nTITLE:Manager\r\n";
        if (i % 5 == 0)
            out += "BDAY:19" + QByteArray::number(50 + i % 50) + "-0" + QByteArray::number(1 + i % 9) + "-1" +
                   QByteArray::number(i % 10) + "\r\n";
        if (i % 6 == 0)
            out += "URL:https\\://example.net/~" + num + "\r\n";
        if (i % 9 == 0)
            out += "NICKNAME:" + g + "y\r\n";
        if (i % 10 == 5) {
            const QByteArray note = "Met at the conference in " + QByteArray::number(2000 + i % 24) + ", table " +
                                    QByteArray::number(i % 40) + ".\r\nCall before noon; prefers e-mail (ÆØÅ æøå).";
            out += "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:";
            int lineLength = 45;
            for (const char c : note) {
                const auto b = uchar(c);
                QByteArray piece;
                if (b < 33 || b > 126 || b == '=')
                    piece = '=' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
                else
                    piece = QByteArray(1, c);
                if (lineLength + piece.size() > 75) { // soft line break
                    out += "=\r\n";
                    lineLength = 0;
                }
                out += piece;
                lineLength += int(piece.size());
            }
            out += "\r\n";
        } else if (i % 10 == 1) {
            out += "NOTE:Prefers calls\\, not texts\\nOffice hours only.\r\n";
        }
        if (i % 20 == 0) {
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
