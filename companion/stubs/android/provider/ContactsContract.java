package android.provider;
import android.net.Uri;
public final class ContactsContract {
    private ContactsContract() {}
    public static final class RawContacts {
        public static final Uri CONTENT_URI;
        static { CONTENT_URI = null; }
    }
    public static final class RawContactsEntity {
        public static final Uri CONTENT_URI;
        static { CONTENT_URI = null; }
    }
    public static final class Data {
        public static final Uri CONTENT_URI;
        static { CONTENT_URI = null; }
    }
    public static final class Groups {
        public static final Uri CONTENT_URI;
        static { CONTENT_URI = null; }
    }
}
