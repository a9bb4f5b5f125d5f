package com.tallowbrook.contactssync;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;

/** Assertions and a runner for the companion's JVM tests: every public method test…() of the named classes. */
public final class Check {
    private Check() {}

    public static void equal(Object expected, Object actual, String what) {
        boolean same = expected == null ? actual == null
                : expected instanceof byte[] && actual instanceof byte[] ? Arrays.equals((byte[]) expected, (byte[]) actual)
                : expected.equals(actual);
        if (!same)
            throw new AssertionError(what + ": expected <" + expected + "> but was <" + actual + ">");
    }

    public static void isTrue(boolean condition, String what) {
        if (!condition)
            throw new AssertionError(what);
    }

    public static void fail(String what) {
        throw new AssertionError(what);
    }

    public static void main(String[] args) throws Exception {
        int failed = 0, passed = 0;
        for (String name : args) {
            Class<?> c = Class.forName(name);
            Method[] methods = c.getMethods();
            Arrays.sort(methods, new java.util.Comparator<Method>() {
                @Override
                public int compare(Method a, Method b) {
                    return a.getName().compareTo(b.getName());
                }
            });
            for (Method m : methods) {
                if (!m.getName().startsWith("test") || Modifier.isStatic(m.getModifiers()))
                    continue;
                long start = System.currentTimeMillis();
                try {
                    m.invoke(c.getDeclaredConstructor().newInstance());
                    passed++;
                    System.out.println("PASS " + c.getSimpleName() + "." + m.getName() + " ("
                            + (System.currentTimeMillis() - start) + " ms)");
                } catch (InvocationTargetException e) {
                    failed++;
                    System.out.println("FAIL " + c.getSimpleName() + "." + m.getName());
                    e.getCause().printStackTrace(System.out);
                }
            }
        }
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 && passed > 0 ? 0 : 1);
    }
}
