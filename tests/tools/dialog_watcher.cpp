// dialog_watcher: starts a program, records every dialog window it shows and
// answers it by pressing a button, then returns the program's exit code.
//
//   dialog_watcher --out RECORD.txt [--press BUTTON[,BUTTON...]] [--timeout MS]
//                  [--class NAME] [--env NAME=VALUE]... [--no-window-ok]
//                  [--follow] [--press-delay MS] [--new-console] [--close-timeout MS]
//                  [--check TEXT[,TEXT...]] [--states] [--minimise]
//                  [--expect CAPTION[,CAPTION...]] [--deep] [--act N:ACTION]
//                  -- PROGRAM [ARGS...]
//
// --env sets a variable for the program (an empty value removes it). Wine
// rebuilds some variables (TEMP, TMP, USERPROFILE, ...) for programs started
// from Linux, so they can only be given to a program by a Windows parent.
//
// BUTTON is a control id ("1", "7"), a symbolic id ("IDOK", "IDCANCEL",
// "IDYES", "IDNO", ...) or the button's text (accelerator "&" ignored). The
// default is the dialog's default button (DM_GETDEFID), else IDOK. With a
// comma-separated list the n-th window gets the n-th entry; windows after the
// end of the list get the last one. BUTTON may also be a key the user
// presses in the window ("key:RETURN", "key:ESCAPE") or "close" (the close
// box of the caption, WM_SYSCOMMAND SC_CLOSE). --press-delay waits that long
// after a window appeared before answering it (default 100 ms).
// --new-console starts the program with a console of its own (a console
// window on the display) instead of the watcher's. --close-timeout bounds how
// long a pressed window may take to close (default: the --timeout) before the
// record says "not closed".
//
// --expect CAPTION[,CAPTION...] names the caption the n-th window must have
// (an empty entry takes any caption): a window with another caption is left
// alone until a later step expects it. Without a matching window within the
// timeout the record gets "no window" and the watcher ends the program (250).
// BUTTON may then also be "once:BUTTON": pressed without waiting for the
// window to close, which stays open and may be expected again (a question
// that opens a file dialog and is still there after it; after the last
// expected window it is left alone), or "file:PATH":
// PATH is typed into the file name field of a common file dialog (control
// cmb13 or edt1) and the dialog confirmed with IDOK ("typed PATH" in the
// record before "pressed 1").
//
// --follow watches windows of the --class NAME instead of answering them:
// each is recorded once as below (plus "invisible <id>" for each hidden
// control and "followed"), then, until the program ends, the record gets a
// line whenever something changes, with the milliseconds since the watcher
// started the program:
//
//   position <ms> <n>        the window's progress bar moved (PBM_GETPOS)
//   hidden <ms> / shown <ms> the window's visibility changed
//   closed <ms>              the window was destroyed
//   status <ms> <text>       the text of the window's status line (control
//                            1002) changed
//   text <ms> <text>         the text of the window's message (control 1003)
//                            changed
//   control-shown <ms> <id> / control-hidden <ms> <id>
//                            a child control's visibility changed
//   other <ms> <class>: <caption>   another visible top-level window of the
//                            program appeared (for example the Java side's)
//
// Message boxes ("#32770") that appear meanwhile are recorded as windows and
// answered with their default button.
//
// --check ticks the check box of that text (accelerator "&" ignored) before
// the button is pressed: it is checked and its dialog told that it was
// clicked, as a click would (a task dialog's verification box, an "Options:"
// box).  Entries go to windows as --press entries do; an empty entry ticks
// nothing.
// In follow mode the record starts with "process <pid>", the process id of
// the started program. --states adds, for every followed window, its state
// when it is first seen and on every change:
//
//   state <ms> minimised | state <ms> normal       (IsIconic)
//   foreground <ms> yes | foreground <ms> no       (GetForegroundWindow)
//
// --minimise minimises each followed window once, right after it was
// recorded, as the user does with its minimise button (WM_SYSCOMMAND
// SC_MINIMIZE).
//
// Only visible top-level windows of the started process count, and of those
// only windows of class NAME ("#32770", the class of message boxes and
// standard dialogs, unless --class says otherwise; "*" takes every class).
//
// RECORD.txt, UTF-8, one block per window in the order they appeared:
//
//   window <n>
//   caption: <text>
//   control <id> <class>: <text>      (one per child control, z-order)
//   state <id> <checkbox|radio> <checked|unchecked|indeterminate>: <text>
//                                     (one per check box and radio button)
//   ticked <id> <checked|unchecked|indeterminate>: <text>
//                                     (the box --check ticked, its state after)
//   not ticked: <text>                (no check box of that text)
//   invisible <id>                    (one per hidden child control)
//   pressed <id>                      (or "action <choice>", see below)
//   end
//
// Texts are escaped so that each stays on one line: backslash as "\\",
// line feed as "\n", carriage return as "\r", tab as "\t".
//
// When no window appears within the timeout (default 20,000 ms), or the
// program ends without showing one, the record gets the line "no window";
// without --no-window-ok the watcher then ends the program and exits 250.
// A window that does not close within the timeout after its button was
// pressed gives the line "not closed", ends the program and exits 251.
// Usage errors exit 252, a program that cannot be started 253.
// Otherwise the exit code is the program's, also printed as "exit code: N".
//
// A start that Wine gives up before the program's first instruction
// (ERROR_INTERNAL_ERROR, see startProgram) is tried again, at most three
// times in all; each failed try is recorded as the line
// "start failed: error 1359, tried again" before any window block.
// Dialogs with nested controls (the common item dialog of the file chooser):
//
//   --deep             also records, after a window's "control" lines, every
//                      control below its children and what the controls hold:
//                        nested <id> <class>: <text>
//                        checkbox <id>: <label> = 0|1
//                        combo <id> item <n>: <text>
//                        combo <id> selected <n>          (-1: none)
//                        listview <id> item <n>: <text>   (first column)
//   --act N:ACTION     before the n-th window's button is pressed (repeatable,
//                      in the order given), where ACTION is
//                        toggle:LABEL    flip the check box with this label
//                        text:ID=TEXT    set the text of the control with this id
//                      each recorded as "acted <action>" (or "act failed
//                      <action>"); with --deep the check boxes are recorded
//                      again afterwards as "after checkbox <id>: <label> = 0|1".

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kExitNoWindow = 250;
constexpr int kExitNotClosed = 251;
constexpr int kExitUsage = 252;
constexpr int kExitStartFailed = 253;
constexpr int kStartAttempts = 3;
constexpr DWORD kStartRetryPauseMilliseconds = 200;
constexpr DWORD kPollMilliseconds = 50;
constexpr UINT kMessageTimeoutMilliseconds = 2000;

// Owns a kernel handle; NULL and INVALID_HANDLE_VALUE both mean "none".
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (valid()) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

struct Options {
    std::wstring out;
    std::vector<std::wstring> press;  // empty: default button
    std::vector<std::wstring> check;  // empty: no box ticked
    DWORD timeout = 20000;
    DWORD closeTimeout = 0;  // --close-timeout; 0: the --timeout
    std::wstring windowClass = L"#32770";
    bool noWindowOk = false;
    bool follow = false;
    DWORD pressDelay = 100;
    bool newConsole = false;
    bool deep = false;                  // --deep
    std::vector<std::wstring> actions;  // --act N:ACTION
    bool states = false;
    bool minimise = false;
    std::vector<std::wstring> expect;       // captions, one per window; empty: any
    std::vector<std::wstring> environment;  // NAME=VALUE
    std::vector<std::wstring> command;
};

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], n, nullptr, nullptr);
    return result;
}

std::wstring escapeLine(const std::wstring& text) {
    std::wstring result;
    for (wchar_t c : text) {
        switch (c) {
            case L'\\': result += L"\\\\"; break;
            case L'\n': result += L"\\n"; break;
            case L'\r': result += L"\\r"; break;
            case L'\t': result += L"\\t"; break;
            default: result += c;
        }
    }
    return result;
}

// Appends lines to the record file, opening and closing it for each write so
// that the record is complete on disk whatever happens to the watcher later.
class Record {
public:
    explicit Record(std::wstring path) : path_(std::move(path)) {}

    bool reset() { return write(CREATE_ALWAYS, std::wstring()); }
    bool line(const std::wstring& text) { return write(OPEN_ALWAYS, text + L"\n"); }

private:
    bool write(DWORD disposition, const std::wstring& text) {
        Handle file(CreateFileW(path_.c_str(), FILE_APPEND_DATA | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return false;
        if (text.empty()) return true;
        SetFilePointer(file.get(), 0, nullptr, FILE_END);
        std::string bytes = toUtf8(text);
        DWORD written = 0;
        return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
               written == bytes.size();
    }

    std::wstring path_;
};

// Quotes one argument so that the C runtime's argument splitting (and
// CommandLineToArgvW) gives it back unchanged.
std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring result = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            result.append(backslashes * 2 + 1, L'\\');
        } else {
            result.append(backslashes, L'\\');
        }
        backslashes = 0;
        result += c;
    }
    result.append(backslashes * 2, L'\\');
    result += L'"';
    return result;
}

std::vector<std::wstring> splitList(const std::wstring& text) {
    std::vector<std::wstring> items;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(L',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::wstring::npos) break;
        start = comma + 1;
    }
    return items;
}

bool parseOptions(int argc, wchar_t** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == L"--") {
            ++i;
            break;
        } else if (arg == L"--out" && hasValue) {
            options.out = argv[++i];
        } else if (arg == L"--press" && hasValue) {
            options.press = splitList(argv[++i]);
        } else if (arg == L"--timeout" && hasValue) {
            wchar_t* end = nullptr;
            unsigned long value = std::wcstoul(argv[++i], &end, 10);
            if (end == nullptr || *end != L'\0') return false;
            options.timeout = static_cast<DWORD>(value);
        } else if (arg == L"--close-timeout" && hasValue) {
            wchar_t* end = nullptr;
            unsigned long value = std::wcstoul(argv[++i], &end, 10);
            if (end == nullptr || *end != L'\0') return false;
            options.closeTimeout = static_cast<DWORD>(value);
        } else if (arg == L"--class" && hasValue) {
            options.windowClass = argv[++i];
        } else if (arg == L"--env" && hasValue) {
            std::wstring assignment = argv[++i];
            if (assignment.find(L'=') == std::wstring::npos || assignment[0] == L'=') return false;
            options.environment.push_back(assignment);
        } else if (arg == L"--check" && hasValue) {
            options.check = splitList(argv[++i]);
        } else if (arg == L"--deep") {
            options.deep = true;
        } else if (arg == L"--act" && hasValue) {
            std::wstring action = argv[++i];
            size_t colon = action.find(L':');
            if (colon == 0 || colon == std::wstring::npos || std::wcstol(action.c_str(), nullptr, 10) <= 0)
                return false;
            options.actions.push_back(action);
        } else if (arg == L"--no-window-ok") {
            options.noWindowOk = true;
        } else if (arg == L"--follow") {
            options.follow = true;
        } else if (arg == L"--new-console") {
            options.newConsole = true;
        } else if (arg == L"--states") {
            options.states = true;
        } else if (arg == L"--minimise") {
            options.minimise = true;
        } else if (arg == L"--expect" && hasValue) {
            options.expect = splitList(argv[++i]);
        } else if (arg == L"--press-delay" && hasValue) {
            wchar_t* end = nullptr;
            unsigned long value = std::wcstoul(argv[++i], &end, 10);
            if (end == nullptr || *end != L'\0') return false;
            options.pressDelay = static_cast<DWORD>(value);
        } else {
            return false;
        }
    }
    for (; i < argc; ++i) options.command.push_back(argv[i]);
    return !options.out.empty() && !options.command.empty();
}

std::wstring className(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

// WM_GETTEXT works across processes for every window; GetWindowTextW would
// only give the caption of another process's top-level windows.  The text can
// change between WM_GETTEXTLENGTH and WM_GETTEXT (a status line updated while
// it is read), so a text that fills the buffer is read again with a larger
// one instead of being cut to the earlier length.
std::wstring windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &length)) {
        return std::wstring();
    }
    for (std::size_t size = length + 64;; size *= 2) {
        std::vector<wchar_t> buffer(size, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                                 SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &copied)) {
            return std::wstring();
        }
        if (copied + 1 < buffer.size() || size >= (1u << 20)) {
            return std::wstring(buffer.data(), copied < buffer.size() ? copied : buffer.size() - 1);
        }
    }
}

struct FindContext {
    DWORD processId;
    const std::wstring* windowClass;
    const std::set<HWND>* handled;
    HWND found;
    const std::wstring* caption = nullptr;  // when set, the window must have it
};

BOOL CALLBACK findWindow(HWND window, LPARAM param) {
    auto* context = reinterpret_cast<FindContext*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != context->processId || !IsWindowVisible(window)) return TRUE;
    if (context->handled->count(window) != 0) return TRUE;
    if (*context->windowClass != L"*" && className(window) != *context->windowClass) return TRUE;
    if (context->caption != nullptr && windowText(window) != *context->caption) return TRUE;
    context->found = window;
    return FALSE;
}

HWND findNewWindow(DWORD processId, const std::wstring& windowClass, const std::set<HWND>& handled,
                   const std::wstring* caption = nullptr) {
    FindContext context{processId, &windowClass, &handled, nullptr, caption};
    EnumWindows(findWindow, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

std::vector<HWND> childControls(HWND window) {
    std::vector<HWND> controls;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        controls.push_back(child);
    }
    return controls;
}

std::wstring withoutAccelerators(const std::wstring& text) {
    std::wstring result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        result += text[i];
    }
    return result;
}

bool symbolicId(const std::wstring& name, int& id) {
    static const struct {
        const wchar_t* name;
        int id;
    } kIds[] = {{L"IDOK", IDOK},
                {L"IDCANCEL", IDCANCEL},
                {L"IDABORT", IDABORT},
                {L"IDRETRY", IDRETRY},
                {L"IDIGNORE", IDIGNORE},
                {L"IDYES", IDYES},
                {L"IDNO", IDNO},
                {L"IDCLOSE", IDCLOSE},
                {L"IDHELP", IDHELP},
                {L"IDTRYAGAIN", IDTRYAGAIN},
                {L"IDCONTINUE", IDCONTINUE}};
    for (const auto& entry : kIds) {
        if (name == entry.name) {
            id = entry.id;
            return true;
        }
    }
    if (name.empty()) return false;
    wchar_t* end = nullptr;
    long value = std::wcstol(name.c_str(), &end, 10);
    if (end == nullptr || *end != L'\0') return false;
    id = static_cast<int>(value);
    return true;
}

// The control id to press in `window` for the button choice. The default
// button is the push button with the default style (message boxes mark it
// only that way; Wine's DM_GETDEFID answers IDOK for them), else the answer
// of DM_GETDEFID when that names an existing control, else IDOK.
int chooseButton(HWND window, const std::wstring& choice) {
    int id = IDOK;
    if (choice.empty()) {
        for (HWND child : childControls(window)) {
            LONG style = GetWindowLongW(child, GWL_STYLE);
            if (className(child) == L"Button" && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                return GetDlgCtrlID(child);
            }
        }
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &result) &&
            HIWORD(result) == DC_HASDEFID && GetDlgItem(window, LOWORD(result)) != nullptr) {
            id = LOWORD(result);
        }
        return id;
    }
    if (symbolicId(choice, id)) return id;
    for (HWND child : childControls(window)) {
        if (withoutAccelerators(windowText(child)) == withoutAccelerators(choice)) {
            return GetDlgCtrlID(child);
        }
    }
    return IDOK;
}

// "key:RETURN", "key:ESCAPE" and "close" act as the user would instead of
// naming a button: a key reaches the dialog's message loop (which turns it
// into a command), the close box a WM_SYSCOMMAND.  The record then says
// "action <choice>" instead of "pressed <id>".
bool isUserAction(const std::wstring& choice) {
    return choice == L"key:RETURN" || choice == L"key:ESCAPE" || choice == L"close";
}

void act(HWND window, const std::wstring& choice) {
    if (choice == L"close") {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return;
    }
    const WPARAM key = choice == L"key:RETURN" ? VK_RETURN : VK_ESCAPE;
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

// A posted WM_COMMAND with BN_CLICKED works whether or not the dialog is in
// the foreground (BM_CLICK needs the button to take the mouse capture).
void press(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Owns a memory device context with a 32-bit bitmap of the given size
// selected into it.
class Canvas {
public:
    Canvas(HDC reference, int width, int height)
        : dc_(CreateCompatibleDC(reference)),
          bitmap_(CreateCompatibleBitmap(reference, width, height)),
          width_(width),
          height_(height) {
        if (dc_ != nullptr && bitmap_ != nullptr) old_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        if (old_ != nullptr) SelectObject(dc_, old_);
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        if (dc_ != nullptr) DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    bool valid() const { return old_ != nullptr; }
    HDC dc() const { return dc_; }

    std::vector<COLORREF> pixels() const {
        std::vector<COLORREF> result;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) result.push_back(GetPixel(dc_, x, y));
        }
        return result;
    }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_ = nullptr;
    int width_;
    int height_;
};

// Names the standard icon a static icon control shows: "error", "warning",
// "question", "information", "other" or "none". Icon handles of another
// process cannot be read (Wine answers ERROR_INVALID_CURSOR_HANDLE), so the
// control's pixels are taken from the screen and compared with each standard
// icon drawn here on the control's background colour.
std::wstring iconName(HWND control) {
    if (!IsWindowVisible(control)) return L"none";
    RECT area = {};
    GetWindowRect(control, &area);
    int width = area.right - area.left;
    int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return L"none";
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC screen = GetDC(nullptr);
    Canvas shown(screen, width, height);
    std::wstring name = L"unknown";
    if (shown.valid() && BitBlt(shown.dc(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
        std::vector<COLORREF> shownPixels = shown.pixels();
        COLORREF background = shownPixels.front();
        bool blank = true;
        for (COLORREF pixel : shownPixels) blank = blank && pixel == background;
        name = blank ? L"none" : L"other";
        static const struct {
            const wchar_t* name;
            LPCWSTR resource;
        } kIcons[] = {{L"error", IDI_ERROR},
                      {L"warning", IDI_WARNING},
                      {L"question", IDI_QUESTION},
                      {L"information", IDI_INFORMATION}};
        for (const auto& entry : kIcons) {
            Canvas drawn(screen, width, height);
            if (!drawn.valid()) continue;
            HBRUSH brush = CreateSolidBrush(background);
            RECT all = {0, 0, width, height};
            FillRect(drawn.dc(), &all, brush);
            DeleteObject(brush);
            DrawIconEx(drawn.dc(), 0, 0, LoadIconW(nullptr, entry.resource), 0, 0, 0, nullptr, DI_NORMAL);
            if (!blank && drawn.pixels() == shownPixels) {
                name = entry.name;
                break;
            }
        }
    }
    ReleaseDC(nullptr, screen);
    return name;
}

// "checkbox" or "radio" for the check boxes and radio buttons among a
// window's controls, else empty.
std::wstring checkKind(HWND control) {
    if (className(control) != L"Button") return std::wstring();
    switch (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE: return L"checkbox";
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON: return L"radio";
        default: return std::wstring();
    }
}

std::wstring checkState(HWND control) {
    DWORD_PTR state = BST_UNCHECKED;
    SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &state);
    return state == BST_CHECKED ? L"checked" : state == BST_INDETERMINATE ? L"indeterminate" : L"unchecked";
}

// Checks the box of that text and tells its dialog it was clicked (a sent
// WM_COMMAND with BN_CLICKED, which is what the box itself sends on a click).
// A box that is checked already is left alone, since a dialog that toggles
// on the notice would uncheck it.
void tick(Record& record, HWND window, const std::wstring& text) {
    for (HWND child : childControls(window)) {
        if (checkKind(child) != L"checkbox" || withoutAccelerators(windowText(child)) != withoutAccelerators(text))
            continue;
        if (checkState(child) != L"checked") {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(child, BM_SETCHECK, BST_CHECKED, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds,
                                &ignored);
            SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(child)), BN_CLICKED),
                                reinterpret_cast<LPARAM>(child), SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds,
                                &ignored);
        }
        record.line(L"ticked " + std::to_wstring(GetDlgCtrlID(child)) + L" " + checkState(child) + L": " +
                    escapeLine(windowText(child)));
        return;
    }
    record.line(L"not ticked: " + escapeLine(text));
}

void recordWindow(Record& record, int number, HWND window) {
    record.line(L"window " + std::to_wstring(number));
    record.line(L"caption: " + escapeLine(windowText(window)));
    for (HWND child : childControls(window)) {
        record.line(L"control " + std::to_wstring(GetDlgCtrlID(child)) + L" " + className(child) + L": " +
                    escapeLine(windowText(child)));
    }
    for (HWND child : childControls(window)) {
        if (className(child) == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            record.line(L"icon: " + iconName(child));
        }
    }
    for (HWND child : childControls(window)) {
        const std::wstring kind = checkKind(child);
        if (!kind.empty()) {
            record.line(L"state " + std::to_wstring(GetDlgCtrlID(child)) + L" " + kind + L" " + checkState(child) +
                        L": " + escapeLine(windowText(child)));
        }
    }
}

void recordHiddenControls(Record& record, HWND window) {
    for (HWND child : childControls(window))
        if (!IsWindowVisible(child)) record.line(L"invisible " + std::to_wstring(GetDlgCtrlID(child)));
}

const wchar_t kOncePrefix[] = L"once:";
const wchar_t kFilePrefix[] = L"file:";

bool hasPrefix(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// The file name field of a common file dialog: the combo box cmb13 of the
// Explorer-style dialog, else the edit control edt1 of the old style.
HWND fileNameField(HWND dialog) {
    constexpr int kFileNameCombo = 0x47c;  // cmb13
    constexpr int kFileNameEdit = 0x480;   // edt1
    HWND field = GetDlgItem(dialog, kFileNameCombo);
    return field != nullptr ? field : GetDlgItem(dialog, kFileNameEdit);
}

// Types `path` into the dialog's file name field (WM_SETTEXT is carried to
// the other process with its text); false when the dialog has no such field.
bool typeFileName(HWND dialog, const std::wstring& path) {
    HWND field = fileNameField(dialog);
    DWORD_PTR result = 0;
    return field != nullptr && SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                                                   SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &result) != 0;
}

bool processEnded(HANDLE process, DWORD waitMilliseconds) {
    return WaitForSingleObject(process, waitMilliseconds) == WAIT_OBJECT_0;
}

int finish(HANDLE process) {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    std::printf("exit code: %lu\n", static_cast<unsigned long>(code));
    std::fflush(stdout);
    return static_cast<int>(code);
}

int abandon(HANDLE process, int code) {
    TerminateProcess(process, static_cast<UINT>(code));
    WaitForSingleObject(process, 5000);
    std::printf("exit code: %d\n", code);
    std::fflush(stdout);
    return code;
}

// ---- Nested controls (--deep, --act)

BOOL CALLBACK collectDescendant(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// Every control below the window, children first in z-order.
std::vector<HWND> descendants(HWND window) {
    std::vector<HWND> all;
    EnumChildWindows(window, collectDescendant, reinterpret_cast<LPARAM>(&all));
    return all;
}

// A check box as the user sees one (a push-like button with the check-box
// style, such as the item dialog's drop-down arrow, is not one).
bool isCheckBox(HWND control) {
    if (className(control) != L"Button") return false;
    LONG style = GetWindowLongW(control, GWL_STYLE);
    if (style & BS_PUSHLIKE) return false;
    LONG type = style & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}

LRESULT sendTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT failed = -1) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &result)) {
        return failed;
    }
    return static_cast<LRESULT>(result);
}

// A check box's state as --deep records it: "1" checked, "0" not.
std::wstring checkBit(HWND control) { return sendTimeout(control, BM_GETCHECK, 0, 0, 0) == BST_CHECKED ? L"1" : L"0"; }

std::vector<std::wstring> comboItems(HWND combo) {
    std::vector<std::wstring> items;
    LRESULT count = sendTimeout(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = sendTimeout(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0) break;
        std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
        sendTimeout(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        items.emplace_back(text.data());
    }
    return items;
}

// A list view's items can only be read through memory of the process that
// owns it (the item structure and the text buffer live there); the watcher
// and the program must then have the same bitness.
bool listViewItems(HWND list, HANDLE process, std::vector<std::wstring>& items) {
    BOOL watcherWow = FALSE, programWow = FALSE;
    IsWow64Process(GetCurrentProcess(), &watcherWow);
    IsWow64Process(process, &programWow);
    if (watcherWow != programWow) return false;
    constexpr size_t kTextChars = 1024;
    void* remote = VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t),
                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr) return false;
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote) + sizeof(LVITEMW));
    LRESULT count = sendTimeout(list, LVM_GETITEMCOUNT, 0, 0);
    bool ok = count >= 0;
    for (LRESULT i = 0; ok && i < count; ++i) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = remoteText;
        item.cchTextMax = static_cast<int>(kTextChars);
        std::vector<wchar_t> text(kTextChars + 1, L'\0');
        ok = WriteProcessMemory(process, remote, &item, sizeof(item), nullptr) &&
             sendTimeout(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote)) >= 0 &&
             ReadProcessMemory(process, remoteText, text.data(), kTextChars * sizeof(wchar_t), nullptr);
        if (ok) items.emplace_back(text.data());
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return ok;
}

void recordNested(Record& record, HWND window, HANDLE process, const std::wstring& prefix) {
    std::vector<HWND> children = childControls(window);
    std::set<HWND> direct(children.begin(), children.end());
    // The explorer view fills its list after the dialog shows; give it a moment.
    if (prefix.empty()) Sleep(500);
    for (HWND control : descendants(window)) {
        std::wstring id = std::to_wstring(GetDlgCtrlID(control));
        std::wstring cls = className(control);
        if (prefix.empty() && direct.count(control) == 0) {
            record.line(L"nested " + id + L" " + cls + L": " + escapeLine(windowText(control)));
        }
        if (isCheckBox(control)) {
            record.line(prefix + L"checkbox " + id + L": " + escapeLine(windowText(control)) + L" = " +
                        checkBit(control));
        }
        if (!prefix.empty()) continue;
        if (cls == L"ComboBox") {
            std::vector<std::wstring> items = comboItems(control);
            for (size_t i = 0; i < items.size(); ++i) {
                record.line(L"combo " + id + L" item " + std::to_wstring(i) + L": " + escapeLine(items[i]));
            }
            record.line(L"combo " + id + L" selected " + std::to_wstring(sendTimeout(control, CB_GETCURSEL, 0, 0)));
        } else if (cls == L"SysListView32") {
            std::vector<std::wstring> items;
            if (!listViewItems(control, process, items)) {
                record.line(L"listview " + id + L" unreadable");
                continue;
            }
            for (size_t i = 0; i < items.size(); ++i) {
                record.line(L"listview " + id + L" item " + std::to_wstring(i) + L": " + escapeLine(items[i]));
            }
        }
    }
}

// The actions of --act for the window with this number.
void actOn(Record& record, const Options& options, int number, HWND window, HANDLE process) {
    bool acted = false;
    for (const auto& entry : options.actions) {
        size_t colon = entry.find(L':');
        if (std::wcstol(entry.c_str(), nullptr, 10) != number) continue;
        std::wstring action = entry.substr(colon + 1);
        bool done = false;
        if (action.rfind(L"toggle:", 0) == 0) {
            std::wstring label = withoutAccelerators(action.substr(7));
            for (HWND control : descendants(window)) {
                if (!isCheckBox(control) || withoutAccelerators(windowText(control)) != label) continue;
                bool checked = sendTimeout(control, BM_GETCHECK, 0, 0, 0) == BST_CHECKED;
                sendTimeout(control, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
                done = true;
                break;
            }
        } else if (action.rfind(L"text:", 0) == 0) {
            size_t equals = action.find(L'=');
            int id = std::wcstol(action.c_str() + 5, nullptr, 10);
            for (HWND control : descendants(window)) {
                if (equals == std::wstring::npos || GetDlgCtrlID(control) != id) continue;
                std::wstring text = action.substr(equals + 1);
                done = sendTimeout(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), 0) != 0;
                break;
            }
        }
        record.line((done ? L"acted " : L"act failed ") + escapeLine(action));
        acted = true;
    }
    if (acted && options.deep) recordNested(record, window, process, L"after ");
}

int watch(const Options& options, HANDLE process, DWORD processId, Record& record) {
    std::set<HWND> handled;
    std::set<HWND> lingering;  // pressed with "once:", still open
    int windows = 0;
    DWORD waitStart = GetTickCount();
    for (;;) {
        // With --expect, the next window is the one with the next caption.
        const size_t step = static_cast<size_t>(windows);
        const std::wstring* expected = nullptr;
        if (step < options.expect.size() && !options.expect[step].empty()) expected = &options.expect[step];
        std::set<HWND> skipped = handled;
        if (!options.expect.empty() && step >= options.expect.size())
            skipped.insert(lingering.begin(), lingering.end());
        HWND window = findNewWindow(processId, options.windowClass, skipped, expected);
        if (window == nullptr) {
            if (processEnded(process, kPollMilliseconds)) break;
            if ((windows == 0 || step < options.expect.size()) && !options.noWindowOk &&
                GetTickCount() - waitStart >= options.timeout) {
                record.line(L"no window");
                return abandon(process, kExitNoWindow);
            }
            continue;
        }
        // Give the dialog a moment to finish its initialisation after it became visible.
        Sleep(options.pressDelay);
        ++windows;
        recordWindow(record, windows, window);
        if (options.deep) recordNested(record, window, process, L"");
        actOn(record, options, windows, window, process);
        recordHiddenControls(record, window);
        std::wstring choice;
        if (!options.press.empty()) {
            size_t index = static_cast<size_t>(windows - 1);
            choice = options.press[index < options.press.size() ? index : options.press.size() - 1];
        }
        if (!options.check.empty()) {
            size_t index = static_cast<size_t>(windows - 1);
            const std::wstring& box = options.check[index < options.check.size() ? index : options.check.size() - 1];
            if (!box.empty()) tick(record, window, box);
        }
        const bool once = hasPrefix(choice, kOncePrefix);
        if (once) choice.erase(0, wcslen(kOncePrefix));
        if (hasPrefix(choice, kFilePrefix)) {
            const std::wstring path = choice.substr(wcslen(kFilePrefix));
            record.line((typeFileName(window, path) ? L"typed " : L"not typed ") + path);
            choice = L"IDOK";
        }
        const bool userAction = isUserAction(choice);
        int id = userAction ? 0 : chooseButton(window, choice);
        record.line(userAction ? L"action " + choice : L"pressed " + std::to_wstring(id));
        record.line(L"end");
        auto answer = [&] {
            if (userAction)
                act(window, choice);
            else
                press(window, id);
        };
        if (once) {
            lingering.insert(window);
            answer();
            waitStart = GetTickCount();
            continue;
        }
        handled.insert(window);

        // Press until the window is gone; retry now and then in case the first
        // press arrived before the dialog's message loop was running.
        DWORD pressStart = GetTickCount();
        DWORD lastPress = pressStart;
        answer();
        while (IsWindow(window) && IsWindowVisible(window)) {
            if (processEnded(process, kPollMilliseconds)) break;
            DWORD now = GetTickCount();
            if (now - pressStart >= (options.closeTimeout != 0 ? options.closeTimeout : options.timeout)) {
                record.line(L"not closed");
                return abandon(process, kExitNotClosed);
            }
            if (now - lastPress >= 2000) {
                answer();
                lastPress = now;
            }
        }
        // A handle value may be reused for a later window once this one is destroyed.
        if (!IsWindow(window)) handled.erase(window);
        waitStart = GetTickCount();
    }
    if (windows == 0) {
        record.line(L"no window");
        if (!options.noWindowOk) {
            DWORD code = 0;
            GetExitCodeProcess(process, &code);
            std::printf("exit code: %d (the program ended with %lu without a window)\n", kExitNoWindow,
                        static_cast<unsigned long>(code));
            return kExitNoWindow;
        }
    }
    return finish(process);
}

// ---- --follow: watching a window instead of answering it

struct Followed {
    HWND window;
    bool visible = true;
    bool closed = false;
    LRESULT position = -1;
    int iconic = -1;      // unknown until first read
    int foreground = -1;  // unknown until first read
    std::wstring status = std::wstring();
    std::wstring message = std::wstring();
    std::vector<std::pair<HWND, bool>> controls = {};  // child controls and whether each was visible
};

// With --states: the window's minimised state and whether it is the
// foreground window, recorded when they differ from what was seen before.
void recordStates(Followed& f, Record& record, const std::wstring& stamp) {
    const int iconic = IsIconic(f.window) ? 1 : 0;
    if (iconic != f.iconic) record.line(L"state " + stamp + (iconic ? L" minimised" : L" normal"));
    f.iconic = iconic;
    const int foreground = GetForegroundWindow() == f.window ? 1 : 0;
    if (foreground != f.foreground) record.line(L"foreground " + stamp + (foreground ? L" yes" : L" no"));
    f.foreground = foreground;
}

// Status line and message text of the launcher's progress dialog.
constexpr int kStatusLineId = 1002;
constexpr int kMessageTextId = 1003;

// Records what changed in the followed window's status line and in the
// visibility of its child controls since the last look.
void followControls(Followed& f, Record& record, const std::wstring& stamp) {
    for (auto& control : f.controls) {
        const bool visible = IsWindowVisible(control.first) != 0;
        if (visible == control.second) continue;
        control.second = visible;
        record.line((visible ? L"control-shown " : L"control-hidden ") + stamp + L" " +
                    std::to_wstring(GetDlgCtrlID(control.first)));
    }
    const struct {
        int id;
        std::wstring* last;
        const wchar_t* kind;
    } texts[] = {{kStatusLineId, &f.status, L"status "}, {kMessageTextId, &f.message, L"text "}};
    for (const auto& watched : texts) {
        HWND control = GetDlgItem(f.window, watched.id);
        if (control == nullptr) continue;
        const std::wstring text = windowText(control);
        if (text == *watched.last) continue;
        *watched.last = text;
        record.line(watched.kind + stamp + L" " + escapeLine(text));
    }
}

HWND progressBarOf(HWND window) {
    for (HWND child : childControls(window))
        if (className(child) == L"msctls_progress32") return child;
    return nullptr;
}

struct ListContext {
    DWORD processId;
    std::vector<HWND> windows;
};

BOOL CALLBACK listWindow(HWND window, LPARAM param) {
    auto* context = reinterpret_cast<ListContext*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == context->processId && IsWindowVisible(window)) context->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> visibleWindows(DWORD processId) {
    ListContext context{processId, {}};
    EnumWindows(listWindow, reinterpret_cast<LPARAM>(&context));
    return context.windows;
}

int follow(const Options& options, HANDLE process, DWORD processId, Record& record) {
    const DWORD start = GetTickCount();
    auto stamp = [start] { return std::to_wstring(GetTickCount() - start); };
    std::set<HWND> seen;
    std::vector<Followed> followed;
    int windows = 0;
    record.line(L"process " + std::to_wstring(processId));
    for (;;) {
        for (HWND window : visibleWindows(processId)) {
            if (!seen.insert(window).second) continue;
            const std::wstring kind = className(window);
            if (kind == options.windowClass || kind == L"#32770") {
                ++windows;
                recordWindow(record, windows, window);
                if (kind == options.windowClass) {
                    for (HWND child : childControls(window))
                        if (!IsWindowVisible(child)) record.line(L"invisible " + std::to_wstring(GetDlgCtrlID(child)));
                    record.line(L"followed");
                    record.line(L"end");
                    followed.push_back(Followed{window});
                    if (options.states) recordStates(followed.back(), record, stamp());
                    if (options.minimise) PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                    for (HWND child : childControls(window))
                        followed.back().controls.emplace_back(child, IsWindowVisible(child) != 0);
                    if (HWND status = GetDlgItem(window, kStatusLineId)) followed.back().status = windowText(status);
                    if (HWND text = GetDlgItem(window, kMessageTextId)) followed.back().message = windowText(text);
                } else {
                    const int id = chooseButton(window, std::wstring());
                    record.line(L"pressed " + std::to_wstring(id));
                    record.line(L"end");
                    press(window, id);
                }
            } else {
                record.line(L"other " + stamp() + L" " + kind + L": " + escapeLine(windowText(window)));
            }
        }
        for (Followed& f : followed) {
            if (f.closed) continue;
            if (!IsWindow(f.window)) {
                f.closed = true;
                record.line(L"closed " + stamp());
                continue;
            }
            const bool visible = IsWindowVisible(f.window) != 0;
            if (visible != f.visible) record.line((visible ? L"shown " : L"hidden ") + stamp());
            f.visible = visible;
            if (options.states) recordStates(f, record, stamp());
            // A hidden window's bar is not read: its thread may be busy
            // handing the activation on, and the user cannot see it anyway.
            if (!visible) continue;
            followControls(f, record, stamp());
            DWORD_PTR position = 0;
            HWND bar = progressBarOf(f.window);
            if (bar &&
                SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMilliseconds, &position) &&
                static_cast<LRESULT>(position) != f.position) {
                f.position = static_cast<LRESULT>(position);
                record.line(L"position " + stamp() + L" " + std::to_wstring(f.position));
            }
        }
        if (processEnded(process, 20)) break;
        if (followed.empty() && !options.noWindowOk && GetTickCount() - start >= options.timeout) {
            record.line(L"no window");
            return abandon(process, kExitNoWindow);
        }
    }
    if (followed.empty()) record.line(L"no window");
    return finish(process);
}

// Starts the program (inheriting the watcher's handles and environment).
//
// Under Wine, CreateProcessW reports ERROR_INTERNAL_ERROR (1359) when the new
// process ended before its Wine start-up was complete: the parent's
// NtCreateUserProcess waits until the wineserver reports the new process
// initialised (its init_process_done request, which Wine's loader sends
// before the program's main module or any DLL entry point runs); a process
// whose Unix side died before that has no exit status, the server answers
// 0, and ntdll turns that into STATUS_INTERNAL_ERROR. Killing the new
// process during its exec (strace -e inject=execve:signal=SIGKILL) gives
// exactly this error. What ends a start that early is Wine's or the
// machine's: a signal before Wine has installed its handlers, or one of the
// loader's start-up failures that log only on the "err" channel (which the
// tests switch off with WINEDEBUG=-all) and exit. None of the started
// program's code has run then, so another try cannot hide a failure of the
// program itself, and a cause that is not passing (an image Wine cannot
// start) fails every try and is still reported.
bool startProgram(std::wstring commandLine, DWORD creationFlags, Record& record, PROCESS_INFORMATION& info) {
    for (int attempt = 1;; ++attempt) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
        if (CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, creationFlags, nullptr, nullptr, &startup,
                           &info)) {
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kStartAttempts) {
            std::fprintf(stderr, "dialog_watcher: cannot start the program (error %lu)\n",
                         static_cast<unsigned long>(error));
            return false;
        }
        record.line(L"start failed: error " + std::to_wstring(error) + L", tried again");
        Sleep(kStartRetryPauseMilliseconds);
    }
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    bool ok = argv != nullptr && parseOptions(argc, argv, options);
    if (argv != nullptr) LocalFree(argv);
    if (!ok) {
        std::fprintf(stderr,
                     "usage: dialog_watcher --out RECORD [--press BUTTON[,BUTTON...]] [--timeout MS]\n"
                     "                      [--class NAME] [--env NAME=VALUE]... [--no-window-ok]\n"
                     "                      [--follow] [--press-delay MS] [--new-console] [--close-timeout MS]\n"
                     "                      [--check TEXT[,TEXT...]] [--states] [--minimise]\n"
                     "                      [--expect CAPTION[,CAPTION...]] [--deep] [--act N:ACTION]\n"
                     "                      -- PROGRAM [ARGS...]\n");
        return kExitUsage;
    }

    Record record(options.out);
    if (!record.reset()) {
        std::fprintf(stderr, "dialog_watcher: cannot write the record file\n");
        return kExitUsage;
    }

    // The program inherits the watcher's environment.
    for (const auto& assignment : options.environment) {
        size_t equals = assignment.find(L'=');
        std::wstring name = assignment.substr(0, equals);
        std::wstring value = assignment.substr(equals + 1);
        SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }

    std::wstring commandLine;
    for (const auto& arg : options.command) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += quoteArgument(arg);
    }
    PROCESS_INFORMATION info = {};
    const DWORD creationFlags = options.newConsole ? CREATE_NEW_CONSOLE : 0;
    if (!startProgram(commandLine, creationFlags, record, info)) return kExitStartFailed;
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    if (options.follow) return follow(options, process.get(), info.dwProcessId, record);
    return watch(options, process.get(), info.dwProcessId, record);
}
