package com.tallowbrook.contactssync;

import java.util.HashMap;
import java.util.Map;

/**
 * The type words of the wire and the provider's type codes they stand for. The words are the program's
 * ("parnet" included); the codes are the provider's, which differ from the program's own numbers where the
 * provider has a separate "other" code (phone 7, e-mail 3, event 2, …) and for IM protocols (provider 0 = AIM).
 */
public final class Labels {
    /** Wire type number of IM protocols in the word table. */
    public static final int IM_PROTOCOL = 99;

    private static final Map<String, Integer> CODES = new HashMap<String, Integer>();
    private static final Map<String, String> WORDS = new HashMap<String, String>();
    /** The code a row gets when the word is empty or unknown: the kind's "other", or custom where it has none. */
    private static final Map<Integer, Integer> FALLBACK = new HashMap<Integer, Integer>();

    private static void add(int type, int code, String word) {
        CODES.put(type + "/" + word, code);
        WORDS.put(type + "/" + code, word);
    }

    static {
        Object[][] table = {
            {3, new Object[] {7, "other", 1, "home", 2, "mobile", 3, "work", 4, "work fax", 5, "home fax", 6, "pager",
                8, "callback", 9, "car", 10, "company main", 11, "isdn", 12, "main", 13, "other fax", 14, "radio",
                15, "telex", 16, "ttytdd", 17, "work mobile", 18, "work pager", 19, "assistant", 20, "mms"}},
            {4, new Object[] {3, "other", 1, "home", 2, "work", 4, "mobile"}},
            {5, new Object[] {1, "default", 2, "other", 4, "short", 5, "init"}},
            {6, new Object[] {2, "other", 1, "anniversary", 3, "birthday"}},
            {8, new Object[] {3, "other", 1, "home", 2, "work"}},
            {IM_PROTOCOL, new Object[] {0, "aim", 1, "msn", 2, "yahoo", 3, "skype", 4, "qq", 5, "googletalk", 6, "icq",
                7, "jabber", 8, "netmeeting"}},
            {10, new Object[] {2, "other", 1, "work"}},
            {11, new Object[] {1, "assistant", 2, "brother", 3, "child", 4, "dom partner", 5, "father", 6, "friend",
                7, "manager", 8, "mother", 9, "parnet", 10, "partner", 11, "refby", 12, "relative", 13, "sister",
                14, "spouse"}},
            {12, new Object[] {3, "other", 1, "home", 2, "work"}},
            {13, new Object[] {7, "other", 1, "homepage", 2, "blog", 3, "profile", 4, "home", 5, "work", 6, "ftp"}},
        };
        for (Object[] kind : table) {
            int type = (Integer) kind[0];
            Object[] pairs = (Object[]) kind[1];
            for (int i = 0; i < pairs.length; i += 2)
                add(type, (Integer) pairs[i], (String) pairs[i + 1]);
        }
        FALLBACK.put(3, 7);
        FALLBACK.put(4, 3);
        FALLBACK.put(5, 1);
        FALLBACK.put(6, 2);
        FALLBACK.put(8, 3);
        FALLBACK.put(IM_PROTOCOL, Provider.IM_PROTOCOL_CUSTOM);
        FALLBACK.put(10, 2);
        FALLBACK.put(11, Provider.TYPE_CUSTOM);
        FALLBACK.put(12, 3);
        FALLBACK.put(13, 7);
    }

    private Labels() {}

    /** The wire word of a provider code; empty for a code without one (custom, or a code the program lacks). */
    public static String wordFor(int type, int code) {
        String w = WORDS.get(type + "/" + code);
        return w == null ? "" : w;
    }

    /** The provider code of a wire word; the kind's fallback for an empty or unknown word. */
    public static int codeFor(int type, String word) {
        Integer c = CODES.get(type + "/" + word);
        if (c != null)
            return c;
        Integer f = FALLBACK.get(type);
        return f == null ? Provider.TYPE_CUSTOM : f;
    }

    public static boolean knows(int type, String word) {
        return CODES.containsKey(type + "/" + word);
    }
}
