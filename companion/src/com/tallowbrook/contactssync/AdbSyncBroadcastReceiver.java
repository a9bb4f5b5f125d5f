package com.tallowbrook.contactssync;

import android.content.BroadcastReceiver;
import android.content.Context;
import android.content.Intent;
import android.util.Log;

/** Receives "am broadcast -n …/.AdbSyncBroadcastReceiver -d sync://backup:PORT/" (or restore) and starts a session. */
public final class AdbSyncBroadcastReceiver extends BroadcastReceiver {
    @Override
    public void onReceive(Context context, Intent intent) {
        SyncUrl url = SyncUrl.fromBroadcast(intent.getDataString());
        if (url == null) {
            Log.w("ContactsSync", "broadcast with a bad URL: " + intent.getDataString());
            return;
        }
        Intent start = new Intent(context, SyncService.class);
        start.setAction(SyncService.ACTION_SESSION);
        start.putExtra(SyncService.EXTRA_KIND, url.kind == SyncSession.Kind.BACKUP ? "backup" : "restore");
        start.putExtra(SyncService.EXTRA_PORT, url.port);
        try {
            SyncService.start(context, start);
        } catch (RuntimeException e) {
            // Android 12 and later refuse a foreground service started while the app is in the background; the
            // program starts the activity first, so this is rare. The program then fails to connect and says so.
            Log.w("ContactsSync", "can not start the session service: " + e);
        }
    }
}
