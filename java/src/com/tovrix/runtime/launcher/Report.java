package com.tovrix.runtime.launcher;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;

/**
 * The report: one fact per line, "key=value", or just "key" when the value is
 * null. Keys never hold "=", a line end or a backslash; in values a backslash
 * is written as two, a line feed as \n and a carriage return as \r, so every
 * fact stays on its line.
 */
final class Report {
    private final StringBuilder text = new StringBuilder();

    void put(String key, Object value) {
        text.append(key);
        if (value != null) {
            text.append('=').append(escape(String.valueOf(value)));
        }
        text.append('\n');
    }

    String text() {
        return text.toString();
    }

    static String escape(String value) {
        StringBuilder out = new StringBuilder(value.length());
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            if (c == '\\') {
                out.append("\\\\");
            } else if (c == '\n') {
                out.append("\\n");
            } else if (c == '\r') {
                out.append("\\r");
            } else {
                out.append(c);
            }
        }
        return out.toString();
    }

    /**
     * Writes the report as UTF-8 to a temporary file beside the target and
     * renames it into place, so a reader sees either no report or all of it.
     */
    void writeAtomically(Path target) throws IOException {
        Path absolute = target.toAbsolutePath();
        // A fixed name, not Files.createTempFile: its SecureRandom seeding
        // enumerates network adapters, which crashes the JVM under Wine 8.
        Path temp = absolute.resolveSibling(absolute.getFileName() + ".tmp");
        try {
            Files.write(temp, text().getBytes(StandardCharsets.UTF_8));
            try {
                Files.move(temp, absolute, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(temp, absolute, StandardCopyOption.REPLACE_EXISTING);
            }
        } finally {
            Files.deleteIfExists(temp);
        }
    }
}
