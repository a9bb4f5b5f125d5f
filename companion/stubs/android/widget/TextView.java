package android.widget;
import android.content.Context;
import android.view.View;
public class TextView extends View {
    public TextView(Context context) { super(context); }
    public final void setText(CharSequence text) { throw new RuntimeException("Stub!"); }
    public void setTextSize(float size) { throw new RuntimeException("Stub!"); }
}
