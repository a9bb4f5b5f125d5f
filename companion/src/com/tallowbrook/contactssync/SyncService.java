package com.tallowbrook.contactssync;

import android.app.Notification;
import android.app.NotificationChannel;
import android.app.NotificationManager;
import android.app.Service;
import android.content.Context;
import android.content.Intent;
import android.content.SharedPreferences;
import android.os.Build;
import android.os.IBinder;
import android.util.Log;

import java.io.IOException;
import java.net.InetAddress;
import java.util.HashSet;
import java.util.Set;

/**
 * The foreground service that serves the sessions: one per broadcast on 127.0.0.1 (the program reaches it through
 * its adb forward), and, while the user has it on, the Wi-Fi listener. It stops once neither has work.
 */
public final class SyncService extends Service implements SyncHost {
    static final String ACTION_SESSION = "com.tallowbrook.contactssync.SESSION";
    static final String ACTION_WIFI_ON = "com.tallowbrook.contactssync.WIFI_ON";
    static final String ACTION_WIFI_OFF = "com.tallowbrook.contactssync.WIFI_OFF";
    static final String EXTRA_KIND = "kind";
    static final String EXTRA_PORT = "port";
    private static final String TAG = "ContactsSync";
    private static final String CHANNEL = "sync";
    private static final int NOTIFICATION_ID = 1;

    private static PeerApprovals approvals;
    private static volatile String status = "";
    private static volatile boolean wifiOn;

    private WifiListener wifi;
    private int sessions;
    private ContactStore store;

    /** The computers allowed over Wi-Fi, shared by the service and the activity that asks the user. */
    static synchronized PeerApprovals approvals(Context context) {
        if (approvals == null) {
            final SharedPreferences prefs = context.getApplicationContext().getSharedPreferences("peers",
                    Context.MODE_PRIVATE);
            approvals = new PeerApprovals(new PeerApprovals.Memory() {
                @Override
                public Set<String> load() {
                    return new HashSet<String>(prefs.getStringSet("allowed", new HashSet<String>()));
                }

                @Override
                public void save(Set<String> addresses) {
                    prefs.edit().putStringSet("allowed", addresses).apply();
                }
            }, PeerApprovals.ASK_TIMEOUT_MS);
        }
        return approvals;
    }

    static String status() {
        return status;
    }

    static boolean wifiOn() {
        return wifiOn;
    }

    /** Starts the service with an intent, as a foreground service where the platform asks for that. */
    static void start(Context context, Intent intent) {
        if (Build.VERSION.SDK_INT >= 26)
            context.startForegroundService(intent);
        else
            context.startService(intent);
    }

    @Override
    public void onCreate() {
        super.onCreate();
        store = new ResolverContactStore(getContentResolver());
    }

    @Override
    public int onStartCommand(Intent intent, int flags, int startId) {
        goForeground();
        String action = intent == null ? null : intent.getAction();
        if (ACTION_SESSION.equals(action)) {
            SyncSession.Kind kind = "restore".equals(intent.getStringExtra(EXTRA_KIND)) ? SyncSession.Kind.RESTORE
                    : SyncSession.Kind.BACKUP;
            startSession(kind, intent.getIntExtra(EXTRA_PORT, 0));
        } else if (ACTION_WIFI_ON.equals(action)) {
            startWifi();
        } else if (ACTION_WIFI_OFF.equals(action)) {
            stopWifi();
        }
        stopWhenIdle();
        return START_NOT_STICKY;
    }

    private void goForeground() {
        Notification.Builder b;
        if (Build.VERSION.SDK_INT >= 26) {
            NotificationManager nm = (NotificationManager) getSystemService(Context.NOTIFICATION_SERVICE);
            nm.createNotificationChannel(new NotificationChannel(CHANNEL, "Contacts sync",
                    NotificationManager.IMPORTANCE_LOW));
            b = new Notification.Builder(this, CHANNEL);
        } else {
            b = new Notification.Builder(this);
        }
        Notification n = b.setContentTitle("Tallowbrook Contacts Sync")
                .setContentText(wifiOn ? "Listening for computers on Wi-Fi" : "Syncing contacts with the computer")
                .setSmallIcon(R.drawable.ic_launcher).setOngoing(true).build();
        startForeground(NOTIFICATION_ID, n);
    }

    // Sockets are bound on the threads that serve them: the platform frowns on network calls on the main thread.
    private synchronized void startSession(final SyncSession.Kind kind, final int port) {
        sessions++;
        status = (kind == SyncSession.Kind.BACKUP ? "Sending contacts" : "Receiving contacts") + " (port " + port + ")";
        new Thread(new Runnable() {
            @Override
            public void run() {
                SessionListener listener;
                try {
                    listener = new SessionListener(kind, port, InetAddress.getByName("127.0.0.1"), null,
                            SyncService.this);
                } catch (IOException e) {
                    log("can not listen on port " + port + ": " + e.getMessage());
                    sessionEnded();
                    return;
                }
                listener.run();
            }
        }, "session-" + port).start();
    }

    private synchronized void startWifi() {
        if (wifiOn)
            return;
        wifiOn = true;
        status = "Listening on Wi-Fi";
        new Thread(new Runnable() {
            @Override
            public void run() {
                WifiListener listener;
                try {
                    InetAddress any = InetAddress.getByName("0.0.0.0");
                    listener = new WifiListener(any, WifiListener.PORT, any, SyncService.this, approvals(SyncService.this));
                } catch (IOException e) {
                    log("can not listen on Wi-Fi port " + WifiListener.PORT + ": " + e.getMessage());
                    stopWifi();
                    stopWhenIdle();
                    return;
                }
                synchronized (SyncService.this) {
                    if (!wifiOn) {
                        listener.close(); // switched off meanwhile
                        return;
                    }
                    wifi = listener;
                }
                listener.run();
            }
        }, "wifi-listener").start();
    }

    private synchronized void stopWifi() {
        if (wifi != null)
            wifi.close();
        wifi = null;
        wifiOn = false;
    }

    private synchronized void stopWhenIdle() {
        if (sessions == 0 && !wifiOn) {
            status = "Idle";
            stopForeground(true);
            stopSelf();
        }
    }

    @Override
    public void onDestroy() {
        stopWifi();
        super.onDestroy();
    }

    @Override
    public IBinder onBind(Intent intent) {
        return null;
    }

    @Override
    public ContactStore store() {
        return store;
    }

    @Override
    public String deviceName() {
        String maker = Build.MANUFACTURER == null ? "" : Build.MANUFACTURER;
        String model = Build.MODEL == null ? "Android" : Build.MODEL;
        return model.toLowerCase().startsWith(maker.toLowerCase()) ? model : (maker + " " + model).trim();
    }

    @Override
    public void log(String message) {
        Log.i(TAG, message);
    }

    @Override
    public void sessionEnded() {
        synchronized (this) {
            sessions--;
        }
        stopWhenIdle();
    }
}
