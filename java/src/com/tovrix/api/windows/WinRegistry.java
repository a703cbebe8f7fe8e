package com.tovrix.api.windows;

import java.util.Objects;

/** Registry value types that the registry natives exchange with Java. */
public final class WinRegistry {
    private WinRegistry() {
    }

    /** A REG_EXPAND_SZ value: a string whose %VARIABLES% are not expanded. */
    public static class ExpandString {
        public final String value;

        public ExpandString(String value) {
            this.value = value;
        }

        @Override
        public boolean equals(Object other) {
            return other instanceof ExpandString && Objects.equals(value, ((ExpandString) other).value);
        }

        @Override
        public int hashCode() {
            return Objects.hashCode(value);
        }

        @Override
        public String toString() {
            return "ExpandString[" + value + "]";
        }
    }
}
