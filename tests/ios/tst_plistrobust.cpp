// Property lists from a damaged or hostile file or device holding a NUL byte in a string or key. libplist cuts such a
// string at the NUL but keeps its whole length: reading a key fails an assertion that ends the program, and writing
// the list out again reads past the cut copy. Such a document is refused as unreadable, in both forms.

#include "ios/plistcftype.h"

#include <plist/plist.h>

#include <QFile>
#include <QTest>

#include <cstdlib>

using namespace Qt::StringLiterals;

class TestPlistRobust : public QObject
{
    Q_OBJECT

    static QByteArray seed(const char *name)
    {
        QFile f(QStringLiteral(FUZZ_CORPUS_DIR "/plist/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private Q_SLOTS:
    void stringWithNulByte()
    {
        for (const char *name : {"regress-string-with-nul.bplist", "regress-string-with-nul.xml"}) {
            const QByteArray bytes = seed(name);
            QVERIFY(bytes.contains('\0'));
            QVERIFY2(PlistCFType::fromData(bytes).isNull(), name);
        }
    }

    // A dictionary key holding NUL cannot be read through libplist at all (every key getter asserts): such a
    // document is refused as unreadable, in both forms, and the keys of a sound document still read.
    void keyWithNulIsRefused()
    {
        plist_t dict = plist_new_dict();
        plist_dict_set_item(dict, "ab", plist_new_string("value"));
        char *bin = nullptr;
        uint32_t length = 0;
        plist_to_bin(dict, &bin, &length);
        QByteArray binary(bin, qsizetype(length));
        std::free(bin);
        plist_free(dict);
        QCOMPARE(PlistCFType::fromData(binary).keys().size(), 1);
        const qsizetype key = binary.indexOf("\x52"
                                             "ab");
        QVERIFY(key > 0);
        binary[key + 2] = '\0';
        QVERIFY(PlistCFType::fromData(binary).isNull());

        const QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a&#0;b</key><string>v</string>"
                               "</dict></plist>";
        QVERIFY(PlistCFType::fromData(xml).isNull());
        QByteArray sound = xml;
        sound.replace("&#0;", "&#65;");
        QCOMPARE(PlistCFType::fromData(sound).keys().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPlistRobust)
#include "tst_plistrobust.moc"
