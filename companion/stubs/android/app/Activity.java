package android.app;
import android.content.ContextWrapper;
import android.os.Bundle;
import android.view.View;
public class Activity extends ContextWrapper {
    public Activity() { super(null); }
    protected void onCreate(Bundle savedInstanceState) { throw new RuntimeException("Stub!"); }
    protected void onResume() { throw new RuntimeException("Stub!"); }
    protected void onPause() { throw new RuntimeException("Stub!"); }
    public void setContentView(View view) { throw new RuntimeException("Stub!"); }
    public final void requestPermissions(String[] permissions, int requestCode) { throw new RuntimeException("Stub!"); }
    public void onRequestPermissionsResult(int requestCode, String[] permissions, int[] grantResults) { throw new RuntimeException("Stub!"); }
}
