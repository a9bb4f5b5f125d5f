// Property lists from a damaged or hostile file or device: a string holding a NUL byte (which libplist keeps,
// and whose plain getter then fails an assertion that ends the program) reads as the text before the NUL. The
// XML reader keeps the NUL (the case that ended the program); the binary one cuts the string itself, and both
// must read the same.

#include "plistcftype.h"

#include <QFile>
#include <QTest>

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
};

QTEST_GUILESS_MAIN(TestPlistRobust)
#include "tst_plistrobust.moc"
