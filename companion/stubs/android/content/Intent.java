package android.content;
public class Intent {
    public Intent(Context packageContext, Class<?> cls) { throw new RuntimeException("Stub!"); }
    public Intent setAction(String action) { throw new RuntimeException("Stub!"); }
    public String getAction() { throw new RuntimeException("Stub!"); }
    public String getDataString() { throw new RuntimeException("Stub!"); }
    public Intent putExtra(String name, int value) { throw new RuntimeException("Stub!"); }
    public Intent putExtra(String name, String value) { throw new RuntimeException("Stub!"); }
    public int getIntExtra(String name, int defaultValue) { throw new RuntimeException("Stub!"); }
    public String getStringExtra(String name) { throw new RuntimeException("Stub!"); }
}
