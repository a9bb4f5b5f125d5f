package com.tallowbrook.contactssync;

import android.app.Activity;
import android.app.AlertDialog;
import android.content.DialogInterface;
import android.content.Intent;
import android.content.pm.PackageManager;
import android.os.Build;
import android.os.Bundle;
import android.os.Handler;
import android.widget.CompoundButton;
import android.widget.LinearLayout;
import android.widget.Switch;
import android.widget.TextView;

import java.net.Inet4Address;
import java.net.InetAddress;
import java.net.NetworkInterface;
import java.net.SocketException;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.List;

/**
 * The app's one screen, started by the program with "am start": asks for the contacts permissions when they are
 * missing, shows what the app is doing and the phone's Wi-Fi address, switches the Wi-Fi listener, and asks the
 * user whether a computer not seen before may connect.
 */
public final class ContactsSync extends Activity {
    private static final String[] PERMISSIONS = {"android.permission.READ_CONTACTS",
            "android.permission.WRITE_CONTACTS"};
    private static final int REFRESH_MS = 1000;

    private final Handler handler = new Handler();
    private TextView statusView;
    private TextView addressView;
    private Switch wifiSwitch;
    private String asking;
    private final Runnable refresh = new Runnable() {
        @Override
        public void run() {
            update();
            handler.postDelayed(this, REFRESH_MS);
        }
    };

    @Override
    protected void onCreate(Bundle savedInstanceState) {
        super.onCreate(savedInstanceState);
        LinearLayout layout = new LinearLayout(this);
        layout.setOrientation(LinearLayout.VERTICAL);
        layout.setPadding(32, 32, 32, 32);
        TextView title = new TextView(this);
        title.setText("Tallowbrook Contacts Sync");
        title.setTextSize(22);
        statusView = new TextView(this);
        addressView = new TextView(this);
        wifiSwitch = new Switch(this);
        wifiSwitch.setText("Allow connections over Wi-Fi");
        wifiSwitch.setChecked(SyncService.wifiOn());
        wifiSwitch.setOnCheckedChangeListener(new CompoundButton.OnCheckedChangeListener() {
            @Override
            public void onCheckedChanged(CompoundButton button, boolean on) {
                if (on == SyncService.wifiOn())
                    return;
                Intent intent = new Intent(ContactsSync.this, SyncService.class);
                intent.setAction(on ? SyncService.ACTION_WIFI_ON : SyncService.ACTION_WIFI_OFF);
                SyncService.start(ContactsSync.this, intent);
            }
        });
        layout.addView(title);
        layout.addView(statusView);
        layout.addView(wifiSwitch);
        layout.addView(addressView);
        setContentView(layout);
        askForPermissions();
    }

    private boolean hasPermissions() {
        if (Build.VERSION.SDK_INT < 23)
            return true; // granted at install
        for (String p : PERMISSIONS)
            if (checkSelfPermission(p) != PackageManager.PERMISSION_GRANTED)
                return false;
        return true;
    }

    private void askForPermissions() {
        if (!hasPermissions())
            requestPermissions(PERMISSIONS, 1);
    }

    @Override
    public void onRequestPermissionsResult(int requestCode, String[] permissions, int[] grantResults) {
        update();
    }

    @Override
    protected void onResume() {
        super.onResume();
        handler.post(refresh);
    }

    @Override
    protected void onPause() {
        handler.removeCallbacks(refresh);
        super.onPause();
    }

    private void update() {
        statusView.setText(hasPermissions() ? "Status: " + (SyncService.status().isEmpty() ? "Idle" : SyncService.status())
                : "The app needs access to your contacts to sync them.");
        if (wifiSwitch.isChecked() != SyncService.wifiOn())
            wifiSwitch.setChecked(SyncService.wifiOn());
        List<String> addresses = wifiAddresses();
        addressView.setText(addresses.isEmpty() ? "No Wi-Fi address"
                : "Connection info for the computer: " + join(addresses));
        List<String> pending = SyncService.approvals(this).pending();
        if (asking == null && !pending.isEmpty())
            ask(pending.get(0));
    }

    /** Asks whether a computer not seen before may read and change the contacts over Wi-Fi. */
    private void ask(final String address) {
        asking = address;
        final PeerApprovals approvals = SyncService.approvals(this);
        new AlertDialog.Builder(this).setTitle("Allow this computer?")
                .setMessage("The computer at " + address + " wants to read and change the contacts on this phone.")
                .setPositiveButton("Allow", new DialogInterface.OnClickListener() {
                    @Override
                    public void onClick(DialogInterface dialog, int which) {
                        approvals.answer(address, true);
                        asking = null;
                    }
                }).setNegativeButton("Deny", new DialogInterface.OnClickListener() {
                    @Override
                    public void onClick(DialogInterface dialog, int which) {
                        approvals.answer(address, false);
                        asking = null;
                    }
                }).setCancelable(false).show();
    }

    private static String join(List<String> parts) {
        StringBuilder sb = new StringBuilder();
        for (String p : parts)
            sb.append(sb.length() == 0 ? "" : ", ").append(p);
        return sb.toString();
    }

    /** The phone's IPv4 addresses on its network interfaces, loopback left out. */
    private static List<String> wifiAddresses() {
        List<String> out = new ArrayList<String>();
        try {
            Enumeration<NetworkInterface> interfaces = NetworkInterface.getNetworkInterfaces();
            if (interfaces == null)
                return out;
            for (NetworkInterface nif : Collections.list(interfaces))
                for (InetAddress a : Collections.list(nif.getInetAddresses()))
                    if (a instanceof Inet4Address && !a.isLoopbackAddress())
                        out.add(a.getHostAddress());
        } catch (SocketException e) {
            // no interfaces to show
        }
        return out;
    }
}
