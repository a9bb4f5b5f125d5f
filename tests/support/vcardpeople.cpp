#include "vcardpeople.h"

namespace people {

QByteArray cards(int n, const char *prefix)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += "BEGIN:VCARD\nVERSION:3.0\nN:" + QByteArray(prefix) + QByteArray::number(i) +
               ";Test;;;\nTEL;TYPE=CELL:555 " + QByteArray::number(i) + "\nEND:VCARD\n";
    return out;
}

QByteArray withMailAndGroup(int n, int from)
{
    QByteArray out;
    for (int i = from; i < from + n; ++i) {
        out += "BEGIN:VCARD\nVERSION:3.0\nN:Person" + QByteArray::number(i) + ";Test;;;\nTEL;TYPE=CELL:+1 555 " +
               QByteArray::number(1000 + i) + "\nEMAIL:p" + QByteArray::number(i) + "@example.org\n";
        if (i % 2)
            out += "CATEGORIES:Friends\n";
        out += "END:VCARD\n";
    }
    return out;
}

} // namespace people
