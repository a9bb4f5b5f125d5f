package android.app;
import android.content.DialogInterface;
public class Dialog implements DialogInterface {
    Dialog() {}
}
