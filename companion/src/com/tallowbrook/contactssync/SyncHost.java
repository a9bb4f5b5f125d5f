package com.tallowbrook.contactssync;

/** What sessions and listeners get from where they run: the contacts, the phone's name and a log. */
public interface SyncHost {
    ContactStore store();

    String deviceName();

    void log(String message);

    /** Called when a session ends, however it ended. */
    void sessionEnded();
}
