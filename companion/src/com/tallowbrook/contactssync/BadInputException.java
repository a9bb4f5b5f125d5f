package com.tallowbrook.contactssync;

/** A line from the program that this app refuses; the session answers "$error:" with the message. */
public class BadInputException extends Exception {
    public BadInputException(String message) {
        super(message);
    }
}
