package com.tallowbrook.contactssync;

/** The contacts provider refused a query or a batch; a refused batch changed nothing. */
public class StoreException extends Exception {
    public StoreException(String message) {
        super(message);
    }

    public StoreException(String message, Throwable cause) {
        super(message, cause);
    }
}
