package android.os;
public class Handler {
    public Handler() { throw new RuntimeException("Stub!"); }
    public final boolean post(Runnable r) { throw new RuntimeException("Stub!"); }
    public final boolean postDelayed(Runnable r, long delayMillis) { throw new RuntimeException("Stub!"); }
    public final void removeCallbacks(Runnable r) { throw new RuntimeException("Stub!"); }
}
