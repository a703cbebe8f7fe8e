package com.tovrix.runtime.launcher;

import com.tovrix.api.windows.WinRegistry;
import java.lang.reflect.Array;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.zip.CRC32;

/**
 * Calls static methods, chiefly the launcher's natives, from a text list and
 * describes what each call gave.
 *
 * <p>Syntax: calls separated by ";" (blank entries are skipped), each
 * {@code Class.method(arg, ...)}. A class name without a dot is one of the
 * native classes (package com.tovrix.runtime.installer.platform.win32);
 * otherwise it is a full class name. Arguments:
 * <ul>
 * <li>{@code 12}, {@code -3}, {@code 0x80000002}: int (hex takes up to 32 bits);</li>
 * <li>{@code 12L}, {@code -1L}, {@code 0xffL}: long;</li>
 * <li>{@code true}, {@code false}, {@code null};</li>
 * <li>{@code "text"} with the escapes \" \\ \n \r \t and \\uXXXX;</li>
 * <li>{@code expand("text")}: a WinRegistry.ExpandString of the text;</li>
 * <li>{@code bytes("00ff7f")}: a byte[] from hexadecimal digits, two per
 * byte (also for an Object parameter, where {@code {0, 255}} makes an int[]);</li>
 * <li>{@code {a, b}}: an array of the parameter's component type (String,
 * int, long, byte, boolean, ...), or for an Object parameter a String, int or
 * boolean array as the elements suggest.</li>
 * <li>{@code pattern(length, seed)}: a byte[] of that many pattern bytes
 * (x = seed, then per byte x = x * 1664525 + 1013904223 and the byte is
 * x >>> 24), for blocks too large to spell out;</li>
 * <li>{@code $name}: the value of a variable (see below).</li>
 * </ul>
 * Variables: an entry {@code $name = Class.method(...)} makes the call and
 * keeps its result, {@code $name = value} keeps a value (an array it can hand
 * to a native that fills it in), and an entry {@code $name} alone shows the
 * variable's current value. Byte arrays of variables are shown as
 * {@code byte[N] crc32=xxxxxxxx}, followed by their bytes in hexadecimal when
 * there are 1 to 64.
 * An int literal also fits a long parameter and, within -128..255, a byte;
 * a string literal fits a Class parameter as the class's name. Among
 * overloads with the right number of parameters the first one whose types
 * match exactly wins, then the first one that fits with those conversions.
 */
final class NativeCalls {
    static final String NATIVE_PACKAGE = "com.tovrix.runtime.installer.platform.win32";

    /** What one call gave: kind is "result", "thrown" or "error". */
    static final class Outcome {
        final String text;
        final String kind;
        final String value;
        /** Whether one of the launcher's natives was invoked, and whether it was unlinked. */
        final boolean reachedNative;
        final boolean unlinked;

        Outcome(String text, String kind, String value, boolean reachedNative, boolean unlinked) {
            this.text = text;
            this.kind = kind;
            this.value = value;
            this.reachedNative = reachedNative;
            this.unlinked = unlinked;
        }
    }

    /** A call text that cannot be made; the message says why. */
    static final class BadCall extends Exception {
        private static final long serialVersionUID = 1L;

        BadCall(String message) {
            super(message);
        }
    }

    /** An array literal; its element type is decided by the parameter. */
    static final class ArrayLiteral {
        final List<Object> elements;

        ArrayLiteral(List<Object> elements) {
            this.elements = elements;
        }
    }

    static final class Call {
        final String className;
        final String method;
        final List<Object> arguments;

        Call(String className, String method, List<Object> arguments) {
            this.className = className;
            this.method = method;
            this.arguments = arguments;
        }
    }

    private NativeCalls() {
    }

    /** A chosen method and its converted arguments. */
    private static final class Invocation {
        final Method method;
        final Object[] arguments;

        Invocation(Method method, Object[] arguments) {
            this.method = method;
            this.arguments = arguments;
        }
    }

    static List<Outcome> runAll(String list) {
        List<Outcome> outcomes = new ArrayList<Outcome>();
        for (String text : split(list)) {
            outcomes.add(run(text));
        }
        return outcomes;
    }

    /**
     * "true" when every native that was invoked was linked, "false" when none
     * was, "partial" for a mix, "unknown" when no native was invoked.
     */
    static String registered(List<Outcome> outcomes) {
        int linked = 0;
        int unlinked = 0;
        for (Outcome outcome : outcomes) {
            if (outcome.reachedNative) {
                if (outcome.unlinked) {
                    unlinked++;
                } else {
                    linked++;
                }
            }
        }
        if (linked + unlinked == 0) {
            return "unknown";
        }
        return unlinked == 0 ? "true" : linked == 0 ? "false" : "partial";
    }

    /** Splits at the ";" outside string literals; drops blank entries. */
    static List<String> split(String list) {
        List<String> calls = new ArrayList<String>();
        StringBuilder current = new StringBuilder();
        boolean inString = false;
        for (int i = 0; i < list.length(); i++) {
            char c = list.charAt(i);
            if (!inString && c == ';') {
                addTrimmed(calls, current);
                current.setLength(0);
                continue;
            }
            current.append(c);
            if (inString && c == '\\' && i + 1 < list.length()) {
                current.append(list.charAt(++i));
            } else if (c == '"') {
                inString = !inString;
            }
        }
        addTrimmed(calls, current);
        return calls;
    }

    private static void addTrimmed(List<String> calls, CharSequence text) {
        String call = text.toString().trim();
        if (!call.isEmpty()) {
            calls.add(call);
        }
    }

    static Outcome run(String text) {
        if (text.trim().startsWith("$")) {
            return runVariable(text);
        }
        Invocation chosen;
        try {
            Call call = new Parser(text).call();
            Class<?> owner;
            try {
                owner = Class.forName(call.className, true, NativeCalls.class.getClassLoader());
            } catch (ClassNotFoundException | LinkageError e) {
                throw new BadCall("no class " + call.className + " (" + e + ")");
            }
            chosen = choose(owner, call);
            if (!Modifier.isPublic(chosen.method.getModifiers()) || !Modifier.isPublic(owner.getModifiers())) {
                chosen.method.setAccessible(true);
            }
        } catch (BadCall e) {
            return new Outcome(text, "error", e.getMessage(), false, false);
        } catch (RuntimeException e) {
            return new Outcome(text, "error", "cannot call: " + e, false, false);
        }
        // Only the launcher's natives tell whether registration worked; JDK natives are always linked.
        Method method = chosen.method;
        boolean isNative = Modifier.isNative(method.getModifiers())
                && method.getDeclaringClass().getName().startsWith(NATIVE_PACKAGE + ".");
        try {
            Object value = method.invoke(null, chosen.arguments);
            lastValue = value;
            String shown = method.getReturnType() == void.class ? "void" : summarise ? summary(value) : render(value);
            return new Outcome(text, "result", shown, isNative, false);
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            String shown = cause.getMessage() == null ? cause.getClass().getName()
                    : cause.getClass().getName() + ": " + cause.getMessage();
            return new Outcome(text, "thrown", shown, isNative, cause instanceof UnsatisfiedLinkError);
        } catch (IllegalAccessException | RuntimeException e) {
            return new Outcome(text, "error", "cannot call: " + e, false, false);
        }
    }

    /** Picks the overload for the call and converts its arguments. */
    private static Invocation choose(Class<?> owner, Call call) throws BadCall {
        List<Method> candidates = new ArrayList<Method>();
        for (Method m : owner.getDeclaredMethods()) {
            if (m.getName().equals(call.method) && Modifier.isStatic(m.getModifiers())
                    && m.getParameterTypes().length == call.arguments.size()) {
                candidates.add(m);
            }
        }
        if (candidates.isEmpty()) {
            throw new BadCall("no static method " + owner.getName() + "." + call.method
                    + " with " + call.arguments.size() + " parameters");
        }
        Collections.sort(candidates, new Comparator<Method>() {
            @Override
            public int compare(Method a, Method b) {
                return a.toString().compareTo(b.toString());
            }
        });
        for (boolean exact : new boolean[] {true, false}) {
            for (Method m : candidates) {
                Class<?>[] types = m.getParameterTypes();
                Object[] converted = new Object[types.length];
                try {
                    for (int i = 0; i < types.length; i++) {
                        converted[i] = convert(call.arguments.get(i), types[i], exact);
                    }
                } catch (BadCall mismatch) {
                    continue;
                }
                return new Invocation(m, converted);
            }
        }
        throw new BadCall("arguments do not fit " + candidates.get(0));
    }

    /** The argument as a value of the parameter type, or BadCall. */
    static Object convert(Object value, Class<?> type, boolean exact) throws BadCall {
        if (value == null) {
            if (type.isPrimitive()) {
                throw new BadCall("null for " + type);
            }
            return null;
        }
        if (value instanceof ArrayLiteral) {
            List<Object> elements = ((ArrayLiteral) value).elements;
            Class<?> component = type.isArray() ? type.getComponentType()
                    : type == Object.class ? guessComponent(elements) : null;
            if (component == null) {
                throw new BadCall("array for " + type);
            }
            Object array = Array.newInstance(component, elements.size());
            for (int i = 0; i < elements.size(); i++) {
                Array.set(array, i, convert(elements.get(i), component, exact));
            }
            return array;
        }
        if (fits(value.getClass(), type)) {
            return value;
        }
        if (!exact && value instanceof Integer) {
            int number = (Integer) value;
            if (type == long.class || type == Long.class) {
                return (long) number;
            }
            if ((type == byte.class || type == Byte.class) && number >= -128 && number <= 255) {
                return (byte) number;
            }
        }
        if (!exact && value instanceof String && type == Class.class) {
            try {
                return Class.forName((String) value, false, NativeCalls.class.getClassLoader());
            } catch (ClassNotFoundException e) {
                throw new BadCall("no class " + value);
            }
        }
        throw new BadCall(value.getClass().getSimpleName() + " for " + type);
    }

    private static boolean fits(Class<?> boxed, Class<?> type) {
        if (type.isPrimitive()) {
            return (type == int.class && boxed == Integer.class) || (type == long.class && boxed == Long.class)
                    || (type == boolean.class && boxed == Boolean.class);
        }
        return type.isAssignableFrom(boxed);
    }

    /** int[] or boolean[] when every element is one, String[] for strings and nulls, else Object[]. */
    private static Class<?> guessComponent(List<Object> elements) {
        boolean ints = !elements.isEmpty();
        boolean booleans = !elements.isEmpty();
        boolean strings = true;
        for (Object element : elements) {
            ints &= element instanceof Integer;
            booleans &= element instanceof Boolean;
            strings &= element == null || element instanceof String;
        }
        return ints ? int.class : booleans ? boolean.class : strings ? String.class : Object.class;
    }

    /** toString, with arrays as [a, b] at every depth. */
    static String render(Object value) {
        if (value == null || !value.getClass().isArray()) {
            return String.valueOf(value);
        }
        StringBuilder out = new StringBuilder("[");
        for (int i = 0; i < Array.getLength(value); i++) {
            out.append(i == 0 ? "" : ", ").append(render(Array.get(value, i)));
        }
        return out.append(']').toString();
    }

    // ---- Variables

    private static final Map<String, Object> VARIABLES = new HashMap<String, Object>();
    /** What the last call of run returned, and whether run shows it as a summary. */
    private static Object lastValue;
    private static boolean summarise;

    /** "$name = call", "$name = value" or "$name". */
    static Outcome runVariable(String text) {
        String entry = text.trim();
        int end = 1;
        while (end < entry.length() && Character.isJavaIdentifierPart(entry.charAt(end))) {
            end++;
        }
        String name = entry.substring(1, end);
        String rest = entry.substring(end).trim();
        if (name.isEmpty()) {
            return new Outcome(text, "error", "expected a variable name after $", false, false);
        }
        if (rest.isEmpty()) {
            if (!VARIABLES.containsKey(name)) {
                return new Outcome(text, "error", "no variable $" + name, false, false);
            }
            return new Outcome(text, "result", summary(VARIABLES.get(name)), false, false);
        }
        if (!rest.startsWith("=")) {
            return new Outcome(text, "error", "expected '=' after $" + name, false, false);
        }
        String right = rest.substring(1).trim();
        if (right.matches("(?s)[A-Za-z_][\\w.]*\\.\\w+\\s*\\(.*")) {
            lastValue = null;
            summarise = true;
            Outcome call;
            try {
                call = run(right);
            } finally {
                summarise = false;
            }
            if (call.kind.equals("result")) {
                VARIABLES.put(name, lastValue);
            }
            return new Outcome(text, call.kind, call.value, call.reachedNative, call.unlinked);
        }
        try {
            Object value = convert(new Parser(right).single(), Object.class, false);
            VARIABLES.put(name, value);
            return new Outcome(text, "result", summary(value), false, false);
        } catch (BadCall e) {
            return new Outcome(text, "error", e.getMessage(), false, false);
        }
    }

    /** render, except that a byte[] shows its length, CRC-32 and (up to 64) its bytes. */
    static String summary(Object value) {
        if (!(value instanceof byte[])) {
            return render(value);
        }
        byte[] bytes = (byte[]) value;
        CRC32 crc = new CRC32();
        crc.update(bytes, 0, bytes.length);
        StringBuilder out = new StringBuilder(String.format("byte[%d] crc32=%08x", bytes.length, crc.getValue()));
        if (bytes.length > 0 && bytes.length <= 64) {
            out.append(' ');
            for (byte b : bytes) {
                out.append(String.format("%02x", b & 0xff));
            }
        }
        return out.toString();
    }

    /** The pattern bytes of pattern(length, seed). */
    static byte[] pattern(int length, int seed) {
        byte[] bytes = new byte[length];
        int x = seed;
        for (int i = 0; i < length; i++) {
            x = x * 1664525 + 1013904223;
            bytes[i] = (byte) (x >>> 24);
        }
        return bytes;
    }

    /** Recursive-descent parser of one call text. */
    static final class Parser {
        private final String text;
        private int pos;

        Parser(String text) {
            this.text = text;
        }

        Call call() throws BadCall {
            skipBlanks();
            int start = pos;
            while (pos < text.length() && (Character.isJavaIdentifierPart(text.charAt(pos)) || text.charAt(pos) == '.')) {
                pos++;
            }
            String target = text.substring(start, pos);
            int dot = target.lastIndexOf('.');
            if (dot <= 0 || dot == target.length() - 1) {
                throw new BadCall("expected Class.method at position " + start);
            }
            String className = target.substring(0, dot);
            if (className.indexOf('.') < 0) {
                className = NATIVE_PACKAGE + "." + className;
            }
            expect('(');
            List<Object> arguments = list(')');
            skipBlanks();
            if (pos != text.length()) {
                throw new BadCall("unexpected text at position " + pos);
            }
            return new Call(className, target.substring(dot + 1), arguments);
        }

        /** Values separated by "," up to the closing character, which it consumes. */
        private List<Object> list(char close) throws BadCall {
            List<Object> values = new ArrayList<Object>();
            skipBlanks();
            if (peek() == close) {
                pos++;
                return values;
            }
            while (true) {
                values.add(value());
                skipBlanks();
                char c = peek();
                pos++;
                if (c == close) {
                    return values;
                }
                if (c != ',') {
                    throw new BadCall("expected ',' or '" + close + "' at position " + (pos - 1));
                }
            }
        }

        private Object value() throws BadCall {
            skipBlanks();
            char c = peek();
            if (c == '"') {
                return string();
            }
            if (c == '{') {
                pos++;
                return new ArrayLiteral(list('}'));
            }
            if (c == '$') {
                int start = pos++;
                while (pos < text.length() && Character.isJavaIdentifierPart(text.charAt(pos))) {
                    pos++;
                }
                String name = text.substring(start + 1, pos);
                if (!VARIABLES.containsKey(name)) {
                    throw new BadCall("no variable $" + name + " at position " + start);
                }
                return VARIABLES.get(name);
            }
            if (c == '-' || (c >= '0' && c <= '9')) {
                return number();
            }
            int start = pos;
            while (pos < text.length() && Character.isLetter(text.charAt(pos))) {
                pos++;
            }
            String word = text.substring(start, pos);
            if (word.equals("true") || word.equals("false")) {
                return Boolean.valueOf(word);
            }
            if (word.equals("null")) {
                return null;
            }
            if (word.equals("pattern") && peek() == '(') {
                pos++;
                List<Object> arguments = list(')');
                if (arguments.size() != 2 || !(arguments.get(0) instanceof Integer)
                        || !(arguments.get(1) instanceof Integer) || (Integer) arguments.get(0) < 0) {
                    throw new BadCall("pattern(length, seed) takes two ints at position " + start);
                }
                return pattern((Integer) arguments.get(0), (Integer) arguments.get(1));
            }
            if ((word.equals("expand") || word.equals("bytes")) && peek() == '(') {
                pos++;
                List<Object> arguments = list(')');
                if (arguments.size() != 1 || !(arguments.get(0) instanceof String)) {
                    throw new BadCall(word + "(...) takes one string at position " + start);
                }
                String text = (String) arguments.get(0);
                return word.equals("expand") ? new WinRegistry.ExpandString(text) : hexBytes(text, start);
            }
            throw new BadCall("unexpected " + (start < text.length() ? "'" + text.charAt(start) + "'" : "end")
                    + " at position " + start);
        }

        private static byte[] hexBytes(String digits, int start) throws BadCall {
            if (digits.length() % 2 != 0) {
                throw new BadCall("odd number of hex digits at position " + start);
            }
            byte[] bytes = new byte[digits.length() / 2];
            for (int i = 0; i < bytes.length; i++) {
                int high = Character.digit(digits.charAt(2 * i), 16);
                int low = Character.digit(digits.charAt(2 * i + 1), 16);
                if (high < 0 || low < 0) {
                    throw new BadCall("bad hex digit in bytes(...) at position " + start);
                }
                bytes[i] = (byte) (high * 16 + low);
            }
            return bytes;
        }

        private Object number() throws BadCall {
            int start = pos;
            boolean negative = peek() == '-';
            if (negative) {
                pos++;
            }
            boolean hex = text.startsWith("0x", pos) || text.startsWith("0X", pos);
            if (hex) {
                pos += 2;
            }
            int digitsStart = pos;
            while (pos < text.length() && Character.digit(text.charAt(pos), hex ? 16 : 10) >= 0) {
                pos++;
            }
            String digits = text.substring(digitsStart, pos);
            boolean isLong = pos < text.length() && (text.charAt(pos) == 'L' || text.charAt(pos) == 'l');
            if (isLong) {
                pos++;
            }
            try {
                if (digits.isEmpty()) {
                    throw new NumberFormatException();
                }
                if (hex) {
                    if (digits.length() > (isLong ? 16 : 8)) {
                        throw new NumberFormatException();
                    }
                    long bits = Long.parseUnsignedLong(digits, 16);
                    bits = negative ? -bits : bits;
                    return isLong ? (Object) bits : (Object) (int) bits;
                }
                String signed = negative ? "-" + digits : digits;
                return isLong ? (Object) Long.parseLong(signed) : (Object) Integer.parseInt(signed);
            } catch (NumberFormatException e) {
                throw new BadCall("bad number " + text.substring(start, pos) + " at position " + start);
            }
        }

        private String string() throws BadCall {
            int start = pos++;
            StringBuilder out = new StringBuilder();
            while (pos < text.length()) {
                char c = text.charAt(pos++);
                if (c == '"') {
                    return out.toString();
                }
                if (c != '\\') {
                    out.append(c);
                    continue;
                }
                char e = peek();
                pos++;
                switch (e) {
                    case '"': out.append('"'); break;
                    case '\\': out.append('\\'); break;
                    case 'n': out.append('\n'); break;
                    case 'r': out.append('\r'); break;
                    case 't': out.append('\t'); break;
                    case 'u':
                        int code = 0;
                        for (int i = 0; i < 4; i++) {
                            int digit = Character.digit(peek(), 16);
                            if (digit < 0) {
                                throw new BadCall("bad \\u escape at position " + (pos - 2 - i));
                            }
                            code = code * 16 + digit;
                            pos++;
                        }
                        out.append((char) code);
                        break;
                    default:
                        throw new BadCall("bad escape at position " + (pos - 2));
                }
            }
            throw new BadCall("unterminated string at position " + start);
        }

        /** One value and nothing after it (the right side of a variable entry). */
        Object single() throws BadCall {
            Object value = value();
            skipBlanks();
            if (pos != text.length()) {
                throw new BadCall("unexpected text at position " + pos);
            }
            return value;
        }

        private void expect(char c) throws BadCall {
            skipBlanks();
            if (peek() != c) {
                throw new BadCall("expected '" + c + "' at position " + pos);
            }
            pos++;
        }

        /** The next character, or NUL at the end. */
        private char peek() {
            return pos < text.length() ? text.charAt(pos) : '\0';
        }

        private void skipBlanks() {
            while (pos < text.length() && Character.isWhitespace(text.charAt(pos))) {
                pos++;
            }
        }
    }
}
