package com.tallowbrook.contactssync;

/**
 * The contacts provider's column names, MIME types and type codes this app uses, with their published values.
 * They are kept here rather than taken from the platform's classes so that the plain Java code and its tests
 * use the very values the phone's provider knows.
 */
public final class Provider {
    private Provider() {}

    public static final String AUTHORITY = "com.android.contacts";

    // Columns.
    public static final String ID = "_id";
    public static final String CONTACT_ID = "contact_id";
    public static final String RAW_CONTACT_ID = "raw_contact_id";
    public static final String DATA_ID = "data_id";
    public static final String MIMETYPE = "mimetype";
    public static final String DELETED = "deleted";
    public static final String ACCOUNT_TYPE = "account_type";
    public static final String ACCOUNT_NAME = "account_name";
    public static final String TITLE = "title";
    public static final String SYSTEM_ID = "system_id";
    public static final String[] DATA = {null, "data1", "data2", "data3", "data4", "data5", "data6", "data7", "data8",
            "data9", "data10", "data11", "data12", "data13", "data14", "data15"};

    // MIME types of the data rows the wire carries.
    public static final String NAME = "vnd.android.cursor.item/name";
    public static final String PHOTO = "vnd.android.cursor.item/photo";
    public static final String PHONE = "vnd.android.cursor.item/phone_v2";
    public static final String EMAIL = "vnd.android.cursor.item/email_v2";
    public static final String NICKNAME = "vnd.android.cursor.item/nickname";
    public static final String EVENT = "vnd.android.cursor.item/contact_event";
    public static final String GROUP_MEMBERSHIP = "vnd.android.cursor.item/group_membership";
    public static final String IM = "vnd.android.cursor.item/im";
    public static final String NOTE = "vnd.android.cursor.item/note";
    public static final String ORGANIZATION = "vnd.android.cursor.item/organization";
    public static final String RELATION = "vnd.android.cursor.item/relation";
    public static final String POSTAL = "vnd.android.cursor.item/postal-address_v2";
    public static final String WEBSITE = "vnd.android.cursor.item/website";

    /** The MIME type of each wire row type 1 … 13. */
    static final String[] MIMETYPES = {null, NAME, PHOTO, PHONE, EMAIL, NICKNAME, EVENT, GROUP_MEMBERSHIP, IM, NOTE,
            ORGANIZATION, RELATION, POSTAL, WEBSITE};

    public static final int TYPE_CUSTOM = 0;
    public static final int IM_PROTOCOL_CUSTOM = -1;

    /** Wire row type of a MIME type; 0 for a kind the wire does not carry. */
    public static int wireType(String mimetype) {
        for (int t = 1; t < MIMETYPES.length; t++)
            if (MIMETYPES[t].equals(mimetype))
                return t;
        return 0;
    }

    public static String mimetype(int wireType) {
        return wireType > 0 && wireType < MIMETYPES.length ? MIMETYPES[wireType] : null;
    }
}
