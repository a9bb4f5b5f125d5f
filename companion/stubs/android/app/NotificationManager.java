package android.app;
public class NotificationManager {
    public static final int IMPORTANCE_LOW = 2;
    private NotificationManager() {}
    public void createNotificationChannel(NotificationChannel channel) { throw new RuntimeException("Stub!"); }
}
