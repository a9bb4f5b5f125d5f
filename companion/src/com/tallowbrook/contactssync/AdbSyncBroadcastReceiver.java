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
        SyncService.start(context, start);
    }
}
