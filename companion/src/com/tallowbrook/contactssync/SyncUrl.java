package com.tallowbrook.contactssync;

/** The session requests the program sends: "sync://backup:PORT/" by broadcast, "//127.0.0.1:PORT/" over Wi-Fi. */
public final class SyncUrl {
    public final SyncSession.Kind kind;
    public final int port;

    private SyncUrl(SyncSession.Kind kind, int port) {
        this.kind = kind;
        this.port = port;
    }

    /** "sync://backup:PORT/" or "sync://restore:PORT/"; null for anything else. */
    public static SyncUrl fromBroadcast(String url) {
        if (url == null || !url.startsWith("sync://") || !url.endsWith("/"))
            return null;
        String body = url.substring(7, url.length() - 1);
        int colon = body.indexOf(':');
        if (colon < 0)
            return null;
        SyncSession.Kind kind = kind(body.substring(0, colon));
        int port = port(body.substring(colon + 1));
        return kind == null || port <= 0 ? null : new SyncUrl(kind, port);
    }

    /** A Wi-Fi listener line "backup://HOST:PORT/" or "restore://HOST:PORT/"; null for anything else. */
    public static SyncUrl fromWifiLine(String line) {
        int colon = line.indexOf(':');
        if (colon < 0 || !line.startsWith("//", colon + 1) || !line.endsWith("/"))
            return null;
        SyncSession.Kind kind = kind(line.substring(0, colon));
        String address = line.substring(colon + 3, line.length() - 1);
        int portColon = address.lastIndexOf(':');
        int port = portColon < 0 ? -1 : port(address.substring(portColon + 1));
        return kind == null || port <= 0 ? null : new SyncUrl(kind, port);
    }

    private static SyncSession.Kind kind(String word) {
        return "backup".equals(word) ? SyncSession.Kind.BACKUP
                : "restore".equals(word) ? SyncSession.Kind.RESTORE : null;
    }

    private static int port(String digits) {
        if (digits.isEmpty() || digits.length() > 5)
            return -1;
        for (int i = 0; i < digits.length(); i++)
            if (digits.charAt(i) < '0' || digits.charAt(i) > '9')
                return -1;
        int p = Integer.parseInt(digits);
        return p > 0 && p < 65536 ? p : -1;
    }
}
