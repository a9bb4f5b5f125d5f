package com.tallowbrook.contactssync;

/** Which computers may use the Wi-Fi listener. */
public interface PeerGate {
    /** Whether the computer was allowed before. */
    boolean isAdmitted(String address);

    /** Allowed before, or allowed now by the user (this may wait for the answer); false when refused. */
    boolean admit(String address);
}
