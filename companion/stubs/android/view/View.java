package android.view;
import android.content.Context;
public class View {
    public View(Context context) { throw new RuntimeException("Stub!"); }
    public void setPadding(int left, int top, int right, int bottom) { throw new RuntimeException("Stub!"); }
}
