package com.tallowbrook.contactssync;

import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Random;

/** Row text: Base64, type words against the provider's codes, dates, field layout of each type. */
public final class CodecTest {
    private static DataRecord row(String mimetype, Object... columnsAndValues) {
        Map<String, Object> v = new LinkedHashMap<String, Object>();
        for (int i = 0; i < columnsAndValues.length; i += 2)
            v.put((String) columnsAndValues[i], columnsAndValues[i + 1]);
        return new DataRecord(120, 7, 5511, mimetype, v);
    }

    private static List<String> fields(String arg) {
        List<String> parts = Arrays.asList(arg.split(",", -1));
        return parts.subList(1, parts.size());
    }

    public void testBase64AgreesWithTheJdkAndIsStrict() {
        Random random = new Random(7);
        for (int n = 0; n < 40; n++) {
            byte[] bytes = new byte[n];
            random.nextBytes(bytes);
            String ours = Base64Text.encode(bytes);
            Check.equal(java.util.Base64.getEncoder().encodeToString(bytes), ours, "encode of " + n + " bytes");
            Check.equal(bytes, Base64Text.decode(ours), "decode of " + n + " bytes");
        }
        Check.equal("Zoë, Jr.", Base64Text.decodeText(Base64Text.encodeText("Zoë, Jr.")), "UTF-8 text with a comma");
        for (String bad : new String[] {"abc", "ab=c", "a===", "====", "YW Jj", "YWJj\n", "é123"}) {
            try {
                Base64Text.decode(bad);
                Check.fail("accepted \"" + bad + "\"");
            } catch (IllegalArgumentException expected) {
            }
        }
    }

    public void testProgramLayoutOfNameAndPhone() {
        // Given name only: an empty prefix field, the given name, then empty middle, family and suffix.
        Check.equal("1/120/7/5511,,Sm9obg==,,,", RowCodec.encode(row(Provider.NAME, "data2", "John"), 120, null),
                "name with a given name only");
        // The provider keeps the prefix in data4 and the middle name in data5; the wire wants prefix first.
        Check.equal("1/120/7/5511,RHI=,Sm9obg==,US4=,U21pdGg=,SnIu", RowCodec.encode(row(Provider.NAME, "data4", "Dr",
                "data2", "John", "data5", "Q.", "data3", "Smith", "data6", "Jr."), 120, null), "full name");
        Check.equal("3/120/7/5511,mobile,,KzQ5IDMw", RowCodec.encode(row(Provider.PHONE, "data2", "2", "data1", "+49 30",
                "data3", "stale label"), 120, null), "a typed phone sends no label");
        Check.equal("3/120/7/5511,,QmFja3VwLCBtYWlu,MTIz", RowCodec.encode(row(Provider.PHONE, "data2", "0", "data3",
                "Backup, main", "data1", "123"), 120, null), "a custom phone sends its label and no word");
        Check.equal(null, RowCodec.encode(row("vnd.android.cursor.item/sip_address", "data1", "x"), 120, null),
                "a kind the wire lacks is not sent");
    }

    public void testOtherCodesDifferPerKind() throws Exception {
        // "other" is a code of its own in the provider, and it differs per kind.
        String[][] cases = {{Provider.PHONE, "3", "7"}, {Provider.EMAIL, "4", "3"}, {Provider.EVENT, "6", "2"},
                {Provider.ORGANIZATION, "10", "2"}, {Provider.POSTAL, "12", "3"}, {Provider.WEBSITE, "13", "7"}};
        for (String[] c : cases) {
            int type = Integer.parseInt(c[1]);
            Check.equal(c[2], String.valueOf(Labels.codeFor(type, "other")), "\"other\" of " + c[0]);
            Check.equal("other", Labels.wordFor(type, Integer.parseInt(c[2])), "word of other for " + c[0]);
        }
        // IM protocols: the provider counts from 0 (AIM); a word the table lacks becomes a custom protocol.
        Map<String, Object> im = RowCodec.decode(8, Arrays.asList("work", "", "aim", "", Base64Text.encodeText("x")));
        Check.equal("0", im.get("data5"), "AIM protocol code");
        Check.equal("2", im.get("data2"), "IM work");
        im = RowCodec.decode(8, Arrays.asList("", "", "", Base64Text.encodeText("Signal"), Base64Text.encodeText("x")));
        Check.equal("-1", im.get("data5"), "custom protocol code");
        Check.equal("Signal", im.get("data6"), "custom protocol name");
        // A custom label wins over the word, as the program reads it.
        Map<String, Object> phone = RowCodec.decode(3, Arrays.asList("home", Base64Text.encodeText("Boat"), "MQ=="));
        Check.equal("0", phone.get("data2"), "custom phone code");
        Check.equal("Boat", phone.get("data3"), "custom phone label");
        phone = RowCodec.decode(3, Arrays.asList("", "", "MQ=="));
        Check.equal("7", phone.get("data2"), "no word: other");
        Check.equal(null, phone.get("data3"), "no label stored");
    }

    public void testEveryKindSurvivesTheWireBothWays() throws Exception {
        Object[][] rows = {
            {Provider.NAME, new Object[] {"data4", "Dr", "data2", "Zoë", "data5", "Q", "data3", "Müller, née X", "data6", "III"}},
            {Provider.PHONE, new Object[] {"data2", "17", "data1", "+1 555"}},
            {Provider.EMAIL, new Object[] {"data2", "0", "data3", "Old", "data1", "a@b.c"}},
            {Provider.NICKNAME, new Object[] {"data2", "4", "data1", "Bo"}},
            {Provider.EVENT, new Object[] {"data2", "3", "data1", "1980-02-29"}},
            {Provider.IM, new Object[] {"data2", "1", "data5", "4", "data1", "qq123"}},
            {Provider.NOTE, new Object[] {"data1", "line one\nline two, with comma"}},
            {Provider.ORGANIZATION, new Object[] {"data2", "1", "data1", "ACME", "data5", "R&D", "data4", "Boss"}},
            {Provider.RELATION, new Object[] {"data2", "9", "data1", "Ann"}},
            {Provider.POSTAL, new Object[] {"data2", "2", "data4", "1 Main St", "data7", "Springfield", "data8", "IL",
                "data9", "62701", "data10", "USA"}},
            {Provider.WEBSITE, new Object[] {"data2", "2", "data1", "https://x.example/?a=1,2"}},
            {Provider.PHOTO, new Object[] {"data15", new byte[] {(byte) 0xff, (byte) 0xd8, 0, 1, 2}}},
        };
        for (Object[] r : rows) {
            DataRecord original = row((String) r[0], (Object[]) r[1]);
            String arg = RowCodec.encode(original, 120, null);
            int type = Provider.wireType(original.mimetype);
            Map<String, Object> back = RowCodec.decode(type, fields(arg));
            for (Map.Entry<String, Object> e : original.values.entrySet())
                Check.equal(e.getValue(), back.get(e.getKey()), original.mimetype + " " + e.getKey());
            // And the row as the phone would store it goes out as the same text again.
            Check.equal(arg, RowCodec.encode(new DataRecord(120, 7, 5511, original.mimetype, back), 120, null),
                    "second trip of " + original.mimetype);
        }
        Map<String, Object> name = RowCodec.decode(1, fields(RowCodec.encode(row(Provider.NAME, "data4", "Dr",
                "data2", "John", "data3", "Smith"), 1, null)));
        Check.equal("Dr John Smith", name.get("data1"), "display name made from the parts");
    }

    public void testDatesAndAddressesThatHaveNoPlainWireForm() throws Exception {
        Check.equal("1980-02-29", RowCodec.wireDate("19800229"), "basic form");
        Check.equal("1980-02-29", RowCodec.wireDate("1980-02-29T00:00:00.000Z"), "date-time");
        Check.equal("", RowCodec.wireDate("--12-25"), "no year: no wire form");
        Check.equal("", RowCodec.wireDate("1981-02-29"), "no such day");
        Check.equal("", RowCodec.wireDate("Dec 25"), "free text");
        for (String bad : new String[] {"1981-02-29", "25.12.1980", "1980-2-3"}) {
            try {
                RowCodec.decode(6, Arrays.asList("birthday", "", bad));
                Check.fail("accepted date " + bad);
            } catch (BadInputException expected) {
            }
        }
        // An address kept only as formatted text travels as its street rather than vanishing.
        String arg = RowCodec.encode(row(Provider.POSTAL, "data2", "1", "data1", "1 Main St\nSpringfield"), 5, null);
        Check.equal("1 Main St\nSpringfield", Base64Text.decodeText(fields(arg).get(5)), "formatted-only address");
        Check.equal("1 Main St\nSpringfield, IL 62701\nUSA",
                RowCodec.formattedAddress("1 Main St", "Springfield", "IL", "62701", "USA"), "formatted address");
        Check.equal("Springfield", RowCodec.formattedAddress("", "Springfield", "", "", ""), "city alone");
    }

    public void testMalformedRowsAreRefused() {
        String[][] bad = {{"3", "mobile", "MQ=="}, {"3", "mobile", "", "MQ==", "extra"}, {"4", "home", "", "not base64!"},
                {"2", "%%%"}, {"42", "x"}};
        for (String[] b : bad) {
            try {
                RowCodec.decode(Integer.parseInt(b[0]), Arrays.asList(b).subList(1, b.length));
                Check.fail("accepted " + Arrays.toString(b));
            } catch (BadInputException expected) {
            } catch (RuntimeException e) {
                Check.fail("crashed on " + Arrays.toString(b) + ": " + e);
            }
        }
        Check.equal(null, WireId.parse("1/2/3"), "three parts");
        Check.equal(null, WireId.parse("1/2/3/4/5"), "five parts");
        Check.equal(null, WireId.parse("1/2/3/1234567890123456789"), "19 digits");
        Check.equal(null, WireId.parse("1/2/3/+4"), "plus sign");
        Check.equal(null, WireId.parse("1/2/3/4 "), "trailing blank");
        Check.equal("3/17/17/-42", String.valueOf(WireId.parse("3/17/17/-42")), "local form");
    }

    public void testSessionRequestUrls() {
        SyncUrl u = SyncUrl.fromBroadcast("sync://restore:10203/");
        Check.equal(SyncSession.Kind.RESTORE, u.kind, "broadcast kind");
        Check.equal(10203, u.port, "broadcast port");
        u = SyncUrl.fromWifiLine("backup://127.0.0.1:45999/");
        Check.equal(SyncSession.Kind.BACKUP, u.kind, "wifi kind");
        Check.equal(45999, u.port, "wifi port");
        for (String bad : new String[] {"sync://backup:0/", "sync://backup:65536/", "sync://wipe:100/",
                "sync://backup:12a/", "sync://backup:100", "http://backup:100/", null})
            Check.equal(null, SyncUrl.fromBroadcast(bad), "broadcast " + bad);
        for (String bad : new String[] {"backup:127.0.0.1:100/", "restore://127.0.0.1/", "hello://127.0.0.1"})
            Check.equal(null, SyncUrl.fromWifiLine(bad), "wifi " + bad);
    }
}
