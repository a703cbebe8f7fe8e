package com.tovrix.api.windows;

/** A top-level window as the window natives report it. */
public final class WindowInfo {
    /** The window handle, sign-extended to 64 bits. */
    public final long handle;
    /** The window style (GWL_STYLE). */
    public final int style;
    public final String className;
    public final String title;

    public WindowInfo(long handle, int style, String className, String title) {
        this.handle = handle;
        this.style = style;
        this.className = className;
        this.title = title;
    }

    @Override
    public String toString() {
        return "WindowInfo[handle=" + handle + ", style=" + style + ", class=" + className + ", title=" + title + "]";
    }
}
