// Natives of the Java class Misc that find, name and raise top-level windows.
//
// Each enumeration keeps its working state (the wanted process, the title
// chosen so far, the windows collected) in a record of its own call, handed
// to the callback, so no call can overrun or disturb another's.  Texts read
// from windows are bounded by their buffers of 4096 characters.
#include <cstdio>
#include <string>
#include <vector>

#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"
#include "natives/process_rules.h"

namespace {

using jni::LocalRef;

// Window titles and class names are read into buffers of this many characters.
constexpr int kWindowTextChars = 4096;

const char kWindowInfoConstructor[] = "(JILjava/lang/String;Ljava/lang/String;)V";

DWORD processOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

// A window's title, "" when it has none or cannot be read.
std::wstring windowTitle(HWND window) {
    std::vector<wchar_t> buffer(kWindowTextChars, L'\0');
    const int length = GetWindowTextW(window, buffer.data(), kWindowTextChars);
    return std::wstring(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::wstring windowClassName(HWND window) {
    std::vector<wchar_t> buffer(kWindowTextChars, L'\0');
    const int length = GetClassNameW(window, buffer.data(), kWindowTextChars);
    return std::wstring(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

// The two window-information messages go to standard error.
void printError(const char* line) {
    std::fputs(line, stderr);
    std::fflush(stderr);
}

// ---- getWindowTitle0

struct TitleSearch {
    DWORD pid;
    processes::TitleChoice choice;
};

BOOL CALLBACK offerTitle(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TitleSearch*>(context);
    if (processOf(window) != search->pid) return TRUE;
    const std::wstring title = windowTitle(window);
    const std::u16string_view text(reinterpret_cast<const char16_t*>(title.data()), title.size());
    return search->choice.offer(text, IsWindowVisible(window) != FALSE) ? FALSE : TRUE;
}

// ---- toFront0

BOOL CALLBACK raiseOwnWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window) && processOf(window) == GetCurrentProcessId()) {
        SetForegroundWindow(window);
        SetForegroundWindow(GetLastActivePopup(window));
    }
    return TRUE;
}

// ---- getTopLevelWindows0

struct WindowCollection {
    DWORD pid;
    std::vector<HWND> windows;
};

// Visible windows of the process that have no owner, in enumeration order.
BOOL CALLBACK collectWindow(HWND window, LPARAM context) {
    auto* collection = reinterpret_cast<WindowCollection*>(context);
    if (processOf(window) == collection->pid && !GetWindow(window, GW_OWNER) && IsWindowVisible(window))
        collection->windows.push_back(window);
    return TRUE;
}

// The WindowInfo of a window, or null when its class name or title cannot be
// read (an empty title counts as unread) or its style is 0.
jobject windowInfo(JNIEnv* env, jclass infoClass, jmethodID constructor, HWND window) {
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const std::wstring className = windowClassName(window);
    const std::wstring title = windowTitle(window);
    if (className.empty() || title.empty() || style == 0) return nullptr;
    const LocalRef<jstring> javaClassName(env, jni::newString(env, className));
    const LocalRef<jstring> javaTitle(env, jni::newString(env, title));
    if (!javaClassName || !javaTitle) return nullptr;
    const auto handle = static_cast<jlong>(reinterpret_cast<INT_PTR>(window));
    return env->NewObject(infoClass, constructor, handle, static_cast<jint>(style), javaClassName.get(),
                          javaTitle.get());
}

}  // namespace

extern "C" {

// Brings every visible top-level window of this process, and its last active
// pop-up, to the foreground.
void JNICALL NATIVE_FUNCTION(Misc, toFront0)(JNIEnv*, jclass) { EnumWindows(raiseOwnWindow, 0); }

// A title of a window of the process: the first visible window with a title
// wins, else the last invisible one with a title; "" when there is none.
jstring JNICALL NATIVE_FUNCTION(Misc, getWindowTitle0)(JNIEnv* env, jclass, jint pid) {
    TitleSearch search{static_cast<DWORD>(pid), {}};
    EnumWindows(offerTitle, reinterpret_cast<LPARAM>(&search));
    return jni::newString(env, search.choice.title());
}

// Restores the window when it is minimised, then brings it to the foreground.
void JNICALL NATIVE_FUNCTION(Misc, setForegroundWindow0)(JNIEnv*, jclass, jlong handle) {
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(handle));
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (GetWindowPlacement(window, &placement) && placement.showCmd == SW_SHOWMINIMIZED) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

// The visible, unowned top-level windows of a process as WindowInfo objects,
// one array slot per window found; a window whose class name or title cannot
// be read leaves its slot (at the end) null.  Null when the process has no
// such window or the class, its constructor or the array is missing.
jobjectArray JNICALL NATIVE_FUNCTION(Misc, getTopLevelWindows0)(JNIEnv* env, jclass, jclass infoClass, jint pid) {
    WindowCollection collection{static_cast<DWORD>(pid), {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&collection));
    if (collection.windows.empty()) return nullptr;
    const jmethodID constructor =
        infoClass ? jni::findMethod(env, infoClass, "<init>", kWindowInfoConstructor) : nullptr;
    if (!constructor) {
        printError("window info constructor not found\n");
        return nullptr;
    }
    LocalRef<jobjectArray> array(
        env, env->NewObjectArray(static_cast<jsize>(collection.windows.size()), infoClass, nullptr));
    if (!array) {
        printError("could not create window info array\n");
        return nullptr;
    }
    jsize stored = 0;
    for (HWND window : collection.windows) {
        const LocalRef<jobject> info(env, windowInfo(env, infoClass, constructor, window));
        if (info) env->SetObjectArrayElement(array.get(), stored++, info.get());
    }
    return array.release();
}

}  // extern "C"
