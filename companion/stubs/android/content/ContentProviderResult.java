package android.content;
import android.net.Uri;
public class ContentProviderResult {
    public final Uri uri;
    public final Integer count;
    private ContentProviderResult() { uri = null; count = null; }
}
