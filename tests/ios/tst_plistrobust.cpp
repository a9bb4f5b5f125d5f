// Property lists from a damaged or hostile file or device: a string holding a NUL byte (which libplist keeps,
// and whose plain getter then fails an assertion that ends the program) reads as the text before the NUL. The
// XML reader keeps the NUL (the case that ended the program); the binary one cuts the string itself, and both
// must read the same.

#include "plistcftype.h"

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
    void stringWithNulByte_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("xml") << seed("regress-string-with-nul.xml");
        QTest::newRow("binary") << seed("regress-string-with-nul.bplist");
    }
    void stringWithNulByte()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(bytes.contains('\0'));
        const PlistCFType root = PlistCFType::fromData(bytes);
        QVERIFY(root.isDict());
        QCOMPARE(root.item(u"Device Name"_s).toString(), u"iPh"_s);
        QCOMPARE(root.item(u"Device Name"_s).toText(), u"iPh"_s);
        QVERIFY(!root.toText().isEmpty());
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
        const qsizetype key = binary.indexOf("\x52" "ab");
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
