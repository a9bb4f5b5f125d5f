package android.content;
import android.database.Cursor;
import android.net.Uri;
import java.util.ArrayList;
public abstract class ContentResolver {
    public final Cursor query(Uri uri, String[] projection, String selection, String[] selectionArgs, String sortOrder) { throw new RuntimeException("Stub!"); }
    public ContentProviderResult[] applyBatch(String authority, ArrayList<ContentProviderOperation> operations)
            throws android.os.RemoteException, OperationApplicationException { throw new RuntimeException("Stub!"); }
}
