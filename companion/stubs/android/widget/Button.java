package android.widget;
import android.content.Context;
public class Button extends TextView {
    public Button(Context context) { super(context); }
}
