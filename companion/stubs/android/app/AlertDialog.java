package android.app;
import android.content.Context;
import android.content.DialogInterface;
public class AlertDialog extends Dialog {
    private AlertDialog() { throw new RuntimeException("Stub!"); }
    public static class Builder {
        public Builder(Context context) { throw new RuntimeException("Stub!"); }
        public Builder setTitle(CharSequence title) { throw new RuntimeException("Stub!"); }
        public Builder setMessage(CharSequence message) { throw new RuntimeException("Stub!"); }
        public Builder setPositiveButton(CharSequence text, DialogInterface.OnClickListener listener) { throw new RuntimeException("Stub!"); }
        public Builder setNegativeButton(CharSequence text, DialogInterface.OnClickListener listener) { throw new RuntimeException("Stub!"); }
        public Builder setCancelable(boolean cancelable) { throw new RuntimeException("Stub!"); }
        public AlertDialog show() { throw new RuntimeException("Stub!"); }
    }
}
