package android.os;
public class Build {
    public static final String MANUFACTURER;
    public static final String MODEL;
    static { MANUFACTURER = null; MODEL = null; }
    public static class VERSION {
        public static final int SDK_INT;
        static { SDK_INT = 0; }
    }
}
