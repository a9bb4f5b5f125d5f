package android.view;
import android.content.Context;
public abstract class ViewGroup extends View {
    public ViewGroup(Context context) { super(context); }
    public void addView(View child) { throw new RuntimeException("Stub!"); }
}
