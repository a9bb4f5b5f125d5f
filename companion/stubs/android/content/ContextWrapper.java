package android.content;
public class ContextWrapper extends Context {
    public ContextWrapper(Context base) { throw new RuntimeException("Stub!"); }
    public ContentResolver getContentResolver() { throw new RuntimeException("Stub!"); }
    public Context getApplicationContext() { throw new RuntimeException("Stub!"); }
    public SharedPreferences getSharedPreferences(String name, int mode) { throw new RuntimeException("Stub!"); }
    public Object getSystemService(String name) { throw new RuntimeException("Stub!"); }
    public ComponentName startService(Intent service) { throw new RuntimeException("Stub!"); }
    public ComponentName startForegroundService(Intent service) { throw new RuntimeException("Stub!"); }
    public int checkSelfPermission(String permission) { throw new RuntimeException("Stub!"); }
}
