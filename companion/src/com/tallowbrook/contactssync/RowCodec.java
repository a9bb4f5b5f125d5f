package com.tallowbrook.contactssync;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Data rows of the provider to and from the argument of "$ent:": the row id, then the type's fields, each after
 * a comma. Free text is Base64 of UTF-8, type codes are words, dates are yyyy-MM-dd, a photo is Base64 of its bytes.
 */
public final class RowCodec {
    /** Field kinds after the id, per wire type: t text, w type word, p protocol word, d date, b bytes. */
    private static final String[] KINDS = {null, "ttttt", "b", "wtt", "wtt", "wtt", "wtd", "t", "wtptt", "t", "wtttt",
            "wtt", "wtttttt", "wtt"};
    /** The provider column of each field (0 for the fields that are no plain column: word, label, protocol). */
    private static final int[][] COLUMNS = {null, {4, 2, 5, 3, 6}, {15}, {0, 3, 1}, {0, 3, 1}, {0, 3, 1}, {0, 3, 1},
            {0}, {0, 3, 0, 6, 1}, {1}, {0, 3, 1, 5, 4}, {0, 3, 1}, {0, 3, 10, 8, 7, 4, 9}, {0, 3, 1}};

    private RowCodec() {}

    public static int fieldCount(int wireType) {
        return wireType > 0 && wireType < KINDS.length ? KINDS[wireType].length() : -1;
    }

    /**
     * The "$ent:" argument of a provider row, sent under the given contact id; null for a kind the wire does not
     * carry. A group membership is sent with its group's title (null title: not sent).
     */
    public static String encode(DataRecord r, long contactId, String groupTitle) {
        int type = Provider.wireType(r.mimetype);
        if (type == 0)
            return null;
        if (type == 7)
            return groupTitle == null ? null : encodeGroup(r, contactId, groupTitle);
        StringBuilder out = new StringBuilder();
        out.append(new WireId(type, contactId, r.rawContactId, r.dataId));
        String kinds = KINDS[type];
        for (int i = 0; i < kinds.length(); i++) {
            out.append(',');
            int column = COLUMNS[type][i];
            switch (kinds.charAt(i)) {
            case 'w': {
                int code = r.number(2, Provider.TYPE_CUSTOM);
                out.append(code == Provider.TYPE_CUSTOM ? "" : Labels.wordFor(type, code));
                break;
            }
            case 'p': {
                int code = r.number(5, Provider.IM_PROTOCOL_CUSTOM);
                out.append(code == Provider.IM_PROTOCOL_CUSTOM ? "" : Labels.wordFor(Labels.IM_PROTOCOL, code));
                break;
            }
            case 'd':
                out.append(wireDate(r.text(1)));
                break;
            case 'b':
                out.append(Base64Text.encode(r.bytes(15)));
                break;
            default:
                out.append(Base64Text.encodeText(textField(type, i, r)));
                break;
            }
        }
        return out.toString();
    }

    private static String textField(int type, int field, DataRecord r) {
        // A custom label (data3) travels only with the custom type, and a custom protocol only with that protocol:
        // the program turns any label it receives into a custom type.
        if (field == 1 && KINDS[type].charAt(0) == 'w' && r.number(2, Provider.TYPE_CUSTOM) != Provider.TYPE_CUSTOM)
            return "";
        if (type == 8 && field == 3 && r.number(5, Provider.IM_PROTOCOL_CUSTOM) != Provider.IM_PROTOCOL_CUSTOM)
            return "";
        // An address kept only as one formatted text goes out as its street, so that it is not lost.
        if (type == 12 && field == 5 && postalPartsEmpty(r))
            return r.text(1);
        return r.text(COLUMNS[type][field]);
    }

    private static boolean postalPartsEmpty(DataRecord r) {
        for (int c : new int[] {4, 5, 6, 7, 8, 9, 10})
            if (!r.text(c).isEmpty())
                return false;
        return true;
    }

    /** Group rows carry the group's title instead of a column. */
    public static String encodeGroup(DataRecord r, long contactId, String title) {
        return new WireId(7, contactId, r.rawContactId, r.dataId) + "," + Base64Text.encodeText(title);
    }

    /**
     * A provider date (yyyy-MM-dd, yyyyMMdd, or either followed by a time) as yyyy-MM-dd; other forms such as a
     * date without year ("--MM-dd") have no wire form and go out empty.
     */
    static String wireDate(String value) {
        String v = value.trim();
        if (v.length() >= 10 && isDate(v.substring(0, 4), v.substring(5, 7), v.substring(8, 10)) && v.charAt(4) == '-'
                && v.charAt(7) == '-' && (v.length() == 10 || v.charAt(10) == 'T' || v.charAt(10) == ' '))
            return v.substring(0, 10);
        if (v.length() >= 8 && isDate(v.substring(0, 4), v.substring(4, 6), v.substring(6, 8))
                && (v.length() == 8 || v.charAt(8) == 'T'))
            return v.substring(0, 4) + "-" + v.substring(4, 6) + "-" + v.substring(6, 8);
        return "";
    }

    private static boolean isDate(String y, String m, String d) {
        for (String s : new String[] {y, m, d})
            for (int i = 0; i < s.length(); i++)
                if (s.charAt(i) < '0' || s.charAt(i) > '9')
                    return false;
        int year = Integer.parseInt(y), month = Integer.parseInt(m), day = Integer.parseInt(d);
        if (month < 1 || month > 12 || day < 1)
            return false;
        int[] days = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        boolean leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return day <= (month == 2 && !leap ? 28 : days[month - 1]);
    }

    /** The fields after the id of a received "$ent:" argument, checked for their number. */
    public static List<String> fields(int wireType, List<String> parts) throws BadInputException {
        int expected = fieldCount(wireType);
        if (expected < 0)
            throw new BadInputException("unknown row type " + wireType);
        if (parts.size() != expected)
            throw new BadInputException("type " + wireType + " has " + expected + " fields, not " + parts.size());
        return parts;
    }

    /**
     * The provider values of a received row (every column the wire carries for its type, so an update also clears
     * what the program emptied). Group rows are not handled here: their one field is a group title.
     */
    public static Map<String, Object> decode(int type, List<String> wire) throws BadInputException {
        fields(type, wire);
        Map<String, Object> values = new LinkedHashMap<String, Object>();
        String kinds = KINDS[type];
        List<String> text = new ArrayList<String>();
        for (int i = 0; i < kinds.length(); i++) {
            char k = kinds.charAt(i);
            text.add(k == 't' ? decodeText(wire.get(i), i) : wire.get(i));
        }
        for (int i = 0; i < kinds.length(); i++) {
            int column = COLUMNS[type][i];
            if (kinds.charAt(i) == 't' && column != 0)
                values.put(Provider.DATA[column], emptyToNull(text.get(i)));
        }
        if (kinds.charAt(0) == 'w') {
            String label = text.get(1);
            boolean custom = !label.isEmpty();
            values.put(Provider.DATA[2], String.valueOf(custom ? Provider.TYPE_CUSTOM : Labels.codeFor(type, text.get(0))));
            values.put(Provider.DATA[3], custom ? label : null);
        }
        switch (type) {
        case 1:
            values.put(Provider.DATA[1], emptyToNull(join(" ", text.get(0), text.get(1), text.get(2), text.get(3),
                    text.get(4))));
            break;
        case 2:
            try {
                values.put(Provider.DATA[15], Base64Text.decode(wire.get(0)));
            } catch (IllegalArgumentException e) {
                throw new BadInputException("bad photo Base64");
            }
            break;
        case 6: {
            String date = wire.get(2);
            if (!date.isEmpty() && (date.length() != 10 || wireDate(date).isEmpty()))
                throw new BadInputException("bad date \"" + date + "\"");
            values.put(Provider.DATA[1], emptyToNull(date));
            break;
        }
        case 8: {
            String custom = text.get(3);
            boolean customProtocol = !custom.isEmpty() || !Labels.knows(Labels.IM_PROTOCOL, wire.get(2));
            values.put(Provider.DATA[5], String.valueOf(
                    customProtocol ? Provider.IM_PROTOCOL_CUSTOM : Labels.codeFor(Labels.IM_PROTOCOL, wire.get(2))));
            values.put(Provider.DATA[6], emptyToNull(custom));
            break;
        }
        case 12:
            values.put(Provider.DATA[1], emptyToNull(formattedAddress(text.get(5), text.get(4), text.get(3),
                    text.get(6), text.get(2))));
            break;
        default:
            break;
        }
        return values;
    }

    /** The group title of a received group row. */
    public static String decodeGroup(List<String> wire) throws BadInputException {
        fields(7, wire);
        return decodeText(wire.get(0), 0);
    }

    private static String decodeText(String field, int index) throws BadInputException {
        try {
            return Base64Text.decodeText(field);
        } catch (IllegalArgumentException e) {
            throw new BadInputException("field " + (index + 1) + " is not Base64");
        }
    }

    private static String emptyToNull(String s) {
        return s == null || s.isEmpty() ? null : s;
    }

    static String join(String sep, String... parts) {
        StringBuilder out = new StringBuilder();
        for (String p : parts) {
            if (p == null || p.isEmpty())
                continue;
            if (out.length() > 0)
                out.append(sep);
            out.append(p);
        }
        return out.toString().trim();
    }

    /** Street, then "city, region postcode", then country, each line only when it has text. */
    static String formattedAddress(String street, String city, String region, String postcode, String country) {
        String place = join(" ", join("", city, region.isEmpty() && postcode.isEmpty() || city.isEmpty() ? "" : ","),
                region, postcode);
        return join("\n", street, place, country);
    }
}
