package com.tovrix.runtime.launcher;

import java.io.File;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.lang.reflect.Array;
import java.lang.reflect.Method;
import java.util.HashMap;
import java.util.Map;

/**
 * Files the runtime holds open on request, for the handle natives' tests
 * (call list entries such as
 * {@code com.tovrix.runtime.launcher.HeldFiles.open("C:\\x.txt")}): the
 * launcher's process then holds a file handle that Win32Handle.list0 can
 * show and Win32Handle.close0 can close.
 */
final class HeldFiles {
    private static final Map<String, RandomAccessFile> HELD = new HashMap<String, RandomAccessFile>();

    private HeldFiles() {
    }

    /**
     * Opens an existing file for reading and keeps it open (Windows grants a
     * read-write handle the access that the handle list leaves out).
     */
    static String open(String path) throws IOException {
        HELD.put(path, new RandomAccessFile(path, "r"));
        return "open";
    }

    /** File.renameTo, which fails while the file is held without delete sharing. */
    static boolean rename(String from, String to) {
        return new File(from).renameTo(new File(to));
    }

    /**
     * Finds the held file in Win32Handle.list0's result (the object name ends
     * with the path after its drive, compared without case) and closes that
     * handle with Win32Handle.close0: "&lt;handle&gt; &lt;close0's result&gt;", or
     * "not listed" / "no list".
     */
    static String closeListed(String path) throws ReflectiveOperationException {
        Class<?> natives = Class.forName("com.tovrix.runtime.installer.platform.win32.Win32Handle");
        Method list = natives.getDeclaredMethod("list0");
        Method close = natives.getDeclaredMethod("close0", int.class);
        list.setAccessible(true);
        close.setAccessible(true);
        Object[] listed = (Object[]) list.invoke(null);
        if (listed == null) {
            return "no list";
        }
        String tail = (path.length() > 2 && path.charAt(1) == ':' ? path.substring(2) : path).toLowerCase();
        Object handles = listed[0];
        String[] names = (String[]) listed[1];
        for (int i = 0; i < names.length; i++) {
            if (names[i].toLowerCase().endsWith(tail)) {
                int handle = Array.getInt(handles, i);
                return handle + " " + close.invoke(null, handle);
            }
        }
        return "not listed";
    }
}
