package android.database;
public interface Cursor {
    boolean moveToNext();
    boolean isNull(int columnIndex);
    int getType(int columnIndex);
    long getLong(int columnIndex);
    String getString(int columnIndex);
    byte[] getBlob(int columnIndex);
    void close();
}
