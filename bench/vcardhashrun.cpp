// vcard-hash-run: fingerprints of what the vCard reading produces, to show that a change to the parser or the
// mapping leaves its results exactly as they were. Each line gives SHA-256 prefixes of the cards (names,
// parameters, values, error offset) and of the contacts (every row's columns with their value types), read
// three ways: parseCards + contactFromCard, contactsFromBytes, and the importer (VCardImport).
//
//   vcard-hash-run FILE...          one line per file
//   vcard-hash-run --mixed N        the generated mixed file of N contacts
//   vcard-hash-run --damaged N      N files made of random vCard pieces, damaged; one line for them all
//
// Run it before and after a change and compare the output.

#include "fileio/vcard.h"
#include "fileio/vcardimport.h"
#include "vcardgen.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Streams everything a contact holds, value types included (QVariant streams its type).
void streamContact(QDataStream &out, const pim::Contact &c)
{
    out << c._id << c.src_id << c.full_name << qint32(c.entities.size());
    for (auto it = c.entities.cbegin(); it != c.entities.cend(); ++it) {
        out << qint32(it.key()) << qint32(it.value().size());
        for (const pim::DataRow &row : it.value()) {
            out << row._id << row.src_id << qint32(row.columns.size());
            for (auto col = row.columns.cbegin(); col != row.columns.cend(); ++col)
                out << col.key() << col.value();
        }
    }
}

struct Hashes
{
    QByteArray cards;
    QByteArray mapped; // parseCards + contactFromCard
    QByteArray front;  // contactsFromBytes
    qsizetype count = 0;
    qint64 errorOffset = -1;
};

QByteArray digest(const QByteArray &stream)
{
    return QCryptographicHash::hash(stream, QCryptographicHash::Sha256).toHex().left(16);
}

Hashes hashBytes(const QByteArray &bytes)
{
    Hashes h;
    const vcard::ParseResult parsed = vcard::parseCards(bytes);
    QByteArray cardStream, mappedStream, frontStream;
    {
        QDataStream out(&cardStream, QIODevice::WriteOnly);
        out << parsed.errorOffset << qint32(parsed.cards.size());
        for (const vcard::Card &card : parsed.cards) {
            out << qint32(card.size());
            for (const vcard::Property &p : card)
                out << p.name << p.parameters << p.value;
        }
    }
    {
        QDataStream out(&mappedStream, QIODevice::WriteOnly);
        for (const vcard::Card &card : parsed.cards)
            streamContact(out, vcard::contactFromCard(card));
    }
    {
        QDataStream out(&frontStream, QIODevice::WriteOnly);
        for (const pim::Contact &c : vcard::contactsFromBytes(bytes))
            streamContact(out, c);
    }
    h.cards = digest(cardStream);
    h.mapped = digest(mappedStream);
    h.front = digest(frontStream);
    h.count = parsed.cards.size();
    h.errorOffset = parsed.errorOffset;
    return h;
}

// The importer reads a file: its contacts, streamed as above.
QByteArray hashImporter(const QString &path)
{
    QByteArray stream;
    QDataStream out(&stream, QIODevice::WriteOnly);
    VCardImport importer;
    importer.open(path);
    out << qint32(importer.count());
    while (importer.hasNext()) {
        pim::Contact c;
        importer.next(c);
        streamContact(out, c);
    }
    importer.close();
    return digest(stream);
}

QByteArray hashImporterBytes(const QByteArray &bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.vcf"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(bytes);
    f.close();
    return hashImporter(path);
}

void print(const char *label, const Hashes &h, const QByteArray &importer)
{
    std::printf("%s: %lld cards, error at %lld; cards %s contacts %s front %s importer %s\n", label,
                static_cast<long long>(h.count), static_cast<long long>(h.errorOffset), h.cards.constData(),
                h.mapped.constData(), h.front.constData(), importer.constData());
}

// Pieces of cards, well-formed and damaged, that the random files are made of.
const QList<QByteArray> &pieces()
{
    static const QList<QByteArray> list = {"BEGIN:VCARD\r\n",
                                           "END:VCARD\r\n",
                                           "begin:vcard\n",
                                           "end:vcard\n",
                                           "VERSION:3.0\r\n",
                                           "VERSION:2.1\r\n",
                                           "VERSION:4.0\r\n",
                                           "VERSION: 3.0 \r\n",
                                           "N:Smith;John;;;\r\n",
                                           "N:Sm\\;ith;Jo\\nhn;A\\,B;Dr.;Jr\r\n",
                                           "N;CHARSET=UTF-8:M\xc3\xbcller;J\xc3\xbcrgen\r\n",
                                           "N;CHARSET=ISO-8859-1:M\xfcller;J\xfcrgen\r\n",
                                           "N;CHARSET=SHIFT_JIS:\x93\xfa\x96\x7b;\r\n",
                                           "N;CHARSET=NO-SUCH:x;y\r\n",
                                           "n:lower;case\r\n",
                                           "FN:John Smith\r\n",
                                           "FN:Acme\\, Inc.\r\n",
                                           "TEL;TYPE=CELL:+47 1\r\n",
                                           "TEL;TYPE=cell:+47 2\r\n",
                                           "TEL;TYPE=home,voice:3\r\n",
                                           "TEL;CELL;CHARSET=UTF-8:4\r\n",
                                           "TEL;TYPE=\"x:y,z\";X-E=a\\;b:5\r\n",
                                           "item1.TEL:+1 555\r\nitem1.X-ABLabel:Cabin\r\n",
                                           "item2.EMAIL;type=INTERNET:a@b.c\r\n",
                                           "EMAIL;TYPE=internet:x@y.z\r\n",
                                           "EMAIL:\r\n",
                                           "ADR;TYPE=work:;;Main St 1;Springfield;;12345;\r\n",
                                           "ADR;TYPE=home:PO 1;Ext;;City\r\n",
                                           "ADR;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:;;M=C3=BC;X;;1;\r\n",
                                           "ADR:;;;;;;\r\n",
                                           "ORG:Acme\\, Inc.;Sales\r\n",
                                           "ORG:;\r\n",
                                           "TITLE:Boss\r\n",
                                           "BDAY:1980-02-29\r\n",
                                           "BDAY:19800229\r\n",
                                           "BDAY:19531015T231000Z\r\n",
                                           "BDAY:--0229\r\n",
                                           "BDAY:  \r\n",
                                           "X-EVENT;TYPE=anniversary:2001-01-01\r\n",
                                           "CATEGORIES:Friends\r\n",
                                           "CATEGORIES:A,B\r\n",
                                           "X-IM;TYPE=skype:me\r\n",
                                           "X-IM;TYPE=nope:me\r\n",
                                           "X-REL;TYPE=spouse:Her\r\n",
                                           "URL:http\\://x.y\r\n",
                                           "URL;TYPE=blog:b\r\n",
                                           "NICKNAME:Nick\r\n",
                                           "NOTE:abc\r\n def\r\n",
                                           "NOTE:a\\nb\\\\c\\:d\\x\r\n",
                                           "NOTE;ENCODING=QUOTED-PRINTABLE:a=3Db=\r\n=C3=A6\r\n",
                                           "NOTE;QUOTED-PRINTABLE:soft=\r\nbreak\r\n",
                                           "NOTE;ENCODING=QUOTED-PRINTABLE:split==\r\nD0 end\r\n",
                                           "NOTE;QUOTED-PRINTABLE:stray=\r\n",
                                           "NOTE;ENCODING=QUOTED-PRINTABLE:bad=ZZ=4=\r\n",
                                           "NOTE;8BIT:\xe6\xf8\r\n",
                                           "PHOTO;ENCODING=b;TYPE=JPEG:AAECAwQF\r\n BgcICQ==\r\n",
                                           "PHOTO;ENCODING=BASE64:AAEC\r\n",
                                           "PHOTO;ENCODING=B:AA=\r\n",
                                           "PHOTO;ENCODING=b:A\r\n",
                                           "PHOTO;ENCODING=b:AA*A\r\n",
                                           "PHOTO;ENCODING=b:=AAA\r\n",
                                           "PHOTO:data:image/png;base64,AAECAw==\r\n",
                                           "PHOTO:http://x/y.jpg\r\n",
                                           "PHOTO;B:QUJD\r\n\tREVG\r\n",
                                           "no colon here\r\n",
                                           ";PARAM:x\r\n",
                                           "TEL;:x\r\n",
                                           "TEL;A=:x\r\n",
                                           "TEL;A=;B:x\r\n",
                                           "TEL;=x:y\r\n",
                                           "TEL;A\r\n",
                                           "\r\n",
                                           "\n",
                                           "\r\n \r\n",
                                           " folded\r\n",
                                           "NOTE:utf8 fold \xc3\r\n \xa6 end\r\n",
                                           "X-UNKNOWN;X=1:y\r\n",
                                           "TEL;TYPE=a\\\\b\\x;c:1\r\n",
                                           "FN;CHARSET=UTF-8:Only Fn\r\n",
                                           "N:;;;;\r\n",
                                           "N:\\\r\n",
                                           "TEL:\\\r\n",
                                           "=\r\n",
                                           "TEL:1\r\r\n"};
    return list;
}

QByteArray damagedFile(QRandomGenerator &random)
{
    QByteArray out;
    const int n = random.bounded(1, 40);
    for (int i = 0; i < n; ++i) {
        // Mostly inside cards, so that the mapping sees the pieces too.
        if (random.bounded(6) == 0)
            out += random.bounded(2) ? "END:VCARD\r\nBEGIN:VCARD\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        QByteArray piece = pieces().at(random.bounded(int(pieces().size())));
        switch (random.bounded(8)) {
        case 0: // a byte overwritten
            if (!piece.isEmpty())
                piece[random.bounded(int(piece.size()))] = char(random.bounded(256));
            break;
        case 1: // cut short
            piece.truncate(random.bounded(int(piece.size()) + 1));
            break;
        case 2: // line feeds without carriage returns
            piece.replace("\r\n", "\n");
            break;
        default:
            break;
        }
        out += piece;
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args.at(0) == QStringLiteral("--mixed")) {
        const QByteArray bytes = generateMixedVCards(args.at(1).toInt());
        print(qPrintable(QStringLiteral("mixed ") + args.at(1)), hashBytes(bytes), hashImporterBytes(bytes));
        return 0;
    }
    if (args.size() == 2 && args.at(0) == QStringLiteral("--damaged")) {
        QRandomGenerator random(20240701);
        QCryptographicHash all(QCryptographicHash::Sha256);
        const int files = args.at(1).toInt();
        qsizetype cards = 0;
        for (int i = 0; i < files; ++i) {
            const QByteArray bytes = damagedFile(random);
            const Hashes h = hashBytes(bytes);
            cards += h.count;
            all.addData(h.cards + h.mapped + h.front + QByteArray::number(h.errorOffset));
            // The importer reads files; every tenth is read that way too.
            if (i % 10 == 0)
                all.addData(hashImporterBytes(bytes));
        }
        std::printf("damaged %d files, %lld cards: %s\n", files, static_cast<long long>(cards),
                    all.result().toHex().left(16).constData());
        return 0;
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: vcard-hash-run FILE... | --mixed N | --damaged N\n");
        return 2;
    }
    for (const QString &path : args) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(f.errorString()));
            return 1;
        }
        print(qPrintable(path.section(QLatin1Char('/'), -1)), hashBytes(f.readAll()), hashImporter(path));
    }
    return 0;
}
