// Natives of the Java classes ShellLink and VistaTaskDialog: shell link files
// written through the shell's own link object, the shell's change notices,
// and task dialogs of the common controls.
//
// COM is initialised and uninitialised for the calling thread only by
// initialize0 and uninitialize, as the Java side asks; every COM object is
// held by a ComPtr and released on every path.  TaskDialogIndirect is taken
// from the common controls the launcher loaded at start (never loaded here)
// and kept once found.  Byte arrays of paths are read within their length
// whether or not the Java side ended them with a NUL.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/text.h"
#include "natives/com_ptr.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"
#include "natives/shell_rules.h"

// Exported under its decorated name, but not registered: the narrow-text
// variant of createWide0 (byte arrays in the ANSI code page).
extern "C" jboolean JNICALL NATIVE_FUNCTION(ShellLink, create0)(JNIEnv* env, jclass, jstring linkPath,
                                                                jbyteArray target, jbyteArray workingDirectory,
                                                                jbyteArray iconPath, jbyteArray arguments,
                                                                jboolean runAsAdministrator, jbyteArray description);

namespace {

using jni::JavaString;
using jni::toJava;

// The shell link class and the interfaces the natives ask it for.
constexpr CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kShellLinkDataList = {0x45E2B4AE, 0xB1C3, 0x11D0, {0xB9, 0x2F, 0x00, 0xA0, 0xC9, 0x03, 0x12, 0xE1}};
constexpr DWORD kRunAsUser = 0x2000;  // SLDF_RUNAS_USER

using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// The elements of a byte array, taken with GetByteArrayElements and released
// with JNI_ABORT (nothing is copied back); empty for a null array.
class ByteElements {
public:
    ByteElements(JNIEnv* env, jbyteArray array) : env_(env), array_(array) {
        if (!array) return;
        elements_ = env->GetByteArrayElements(array, nullptr);
        if (elements_) size_ = static_cast<std::size_t>(env->GetArrayLength(array));
    }
    ~ByteElements() {
        if (elements_) env_->ReleaseByteArrayElements(array_, elements_, JNI_ABORT);
    }
    ByteElements(const ByteElements&) = delete;
    ByteElements& operator=(const ByteElements&) = delete;
    bool taken() const { return elements_ != nullptr; }
    const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(elements_); }
    std::size_t size() const { return size_; }

private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* elements_ = nullptr;
    std::size_t size_ = 0;
};

// A NUL-terminated narrow text of a byte array; null for a null array.
class ByteText {
public:
    ByteText(JNIEnv* env, jbyteArray array) {
        const ByteElements elements(env, array);
        if (!elements.taken()) return;
        text_ = shell::narrowTextOfBytes(elements.bytes(), elements.size());
        present_ = true;
    }
    const char* get() const { return present_ ? text_.c_str() : nullptr; }

private:
    std::string text_;
    bool present_ = false;
};

// Sets the run-as-administrator flag of the link's data list; false when the
// object has no data list or the flags cannot be read or written.
template <typename Link>
bool addRunAsFlag(const ComPtr<Link>& link) {
    ComPtr<IShellLinkDataList> dataList;
    if (FAILED(link.queryInterface(kShellLinkDataList, dataList))) return false;
    DWORD flags = 0;
    if (FAILED(dataList->GetFlags(&flags))) return false;
    return SUCCEEDED(dataList->SetFlags(flags | kRunAsUser));
}

// Steps 3 to 6 of writing a link, shared by both text forms: the persist-file
// interface, the run-as flag and the save (with the remember flag).  True
// exactly when the last COM call made succeeded.
template <typename Link>
bool saveLink(const ComPtr<Link>& link, const JavaString& linkPath, bool runAsAdministrator) {
    ComPtr<IPersistFile> file;
    if (FAILED(link.queryInterface(kPersistFile, file))) return false;
    if (runAsAdministrator && !addRunAsFlag(link)) return false;
    // IPersistFile::Save with no name saves to the object's current file,
    // which a new link has not got: a null path is refused here instead.
    if (linkPath.isNull()) return false;
    return SUCCEEDED(file->Save(linkPath.get(), TRUE));
}

template <typename Link>
ComPtr<Link> createLinkObject(REFIID iid) {
    auto create = system_calls::resolve<CoCreateInstanceFn>("CoCreateInstance", &CoCreateInstance);
    ComPtr<Link> link;
    if (FAILED(create(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, iid, link.putVoid()))) link.reset();
    return link;
}

// ---- Task dialog

// TaskDialogIndirect of the common controls the process has loaded; kept
// once found, looked up again on every call until then.
TaskDialogIndirectFn taskDialogFunction() {
    static TaskDialogIndirectFn known = nullptr;
    FARPROC replacement = nullptr;
    if (system_calls::hasReplacement("TaskDialogIndirect", replacement))
        return reinterpret_cast<TaskDialogIndirectFn>(reinterpret_cast<void*>(replacement));
    if (!known)
        known = system_calls::function<TaskDialogIndirectFn>(system_calls::loadedModule(L"Comctl32.dll"),
                                                             "TaskDialogIndirect");
    return known;
}

// The data of the z-order callback: the owner and the timer ticks so far.
struct ZOrderState {
    HWND owner;
    unsigned ticks;
};

// On every timer tick the dialog goes directly behind its owner in the
// z-order, neither moved nor sized; from the sixth tick on also without
// being activated.  Every notification is answered S_OK, so a pressed button
// closes the dialog and the timer keeps counting from its start.
HRESULT CALLBACK keepBehindOwner(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR data) {
    if (notification != TDN_TIMER) return S_OK;
    auto* state = reinterpret_cast<ZOrderState*>(data);
    ++state->ticks;
    UINT flags = SWP_NOMOVE | SWP_NOSIZE;
    if (shell::placeWithoutActivating(state->ticks)) flags |= SWP_NOACTIVATE;
    system_calls::resolve("SetWindowPos", &SetWindowPos)(dialog, state->owner, 0, 0, 0, 0, flags);
    return S_OK;
}

}  // namespace

extern "C" {

// Writes a link file through the shell's link object: target, working
// directory, icon (index 0), arguments, description and show command, and
// with runAsAdministrator the data list's run-as flag.  True when the file
// was saved.  Needs COM on the calling thread (initialize0).  A null target
// or working directory is left unset (a new link has neither).
jboolean JNICALL NATIVE_FUNCTION(ShellLink, createWide0)(JNIEnv* env, jclass, jstring linkPathArgument,
                                                         jstring targetArgument, jstring workingDirectoryArgument,
                                                         jstring iconPathArgument, jstring argumentsArgument,
                                                         jboolean runAsAdministrator, jstring descriptionArgument,
                                                         jint showCommand) {
    const ComPtr<IShellLinkW> link = createLinkObject<IShellLinkW>(kShellLinkW);
    if (!link) return JNI_FALSE;
    const JavaString target(env, targetArgument);
    const JavaString workingDirectory(env, workingDirectoryArgument);
    const JavaString iconPath(env, iconPathArgument);
    const JavaString arguments(env, argumentsArgument);
    const JavaString description(env, descriptionArgument);
    if (!target.isNull()) link->SetPath(target.get());
    if (!workingDirectory.isNull()) link->SetWorkingDirectory(workingDirectory.get());
    if (!iconPath.isNull()) link->SetIconLocation(iconPath.get(), 0);
    if (!arguments.isNull()) link->SetArguments(arguments.get());
    if (!description.isNull()) link->SetDescription(description.get());
    link->SetShowCmd(showCommand);
    const JavaString linkPath(env, linkPathArgument);
    return toJava(saveLink(link, linkPath, runAsAdministrator != JNI_FALSE));
}

// The narrow-text variant: the same link written through the ANSI link
// interface, without a show command.
jboolean JNICALL NATIVE_FUNCTION(ShellLink, create0)(JNIEnv* env, jclass, jstring linkPathArgument,
                                                     jbyteArray targetArgument, jbyteArray workingDirectoryArgument,
                                                     jbyteArray iconPathArgument, jbyteArray argumentsArgument,
                                                     jboolean runAsAdministrator, jbyteArray descriptionArgument) {
    const ComPtr<IShellLinkA> link = createLinkObject<IShellLinkA>(kShellLinkA);
    if (!link) return JNI_FALSE;
    const ByteText target(env, targetArgument);
    const ByteText workingDirectory(env, workingDirectoryArgument);
    const ByteText iconPath(env, iconPathArgument);
    const ByteText arguments(env, argumentsArgument);
    const ByteText description(env, descriptionArgument);
    if (target.get()) link->SetPath(target.get());
    if (workingDirectory.get()) link->SetWorkingDirectory(workingDirectory.get());
    if (iconPath.get()) link->SetIconLocation(iconPath.get(), 0);
    if (arguments.get()) link->SetArguments(arguments.get());
    if (description.get()) link->SetDescription(description.get());
    const JavaString linkPath(env, linkPathArgument);
    return toJava(saveLink(link, linkPath, runAsAdministrator != JNI_FALSE));
}

// Tells the shell that an item was created and that a folder changed (the
// second notice waits until the shell has handled it).  A null array sends no
// notice; nothing is sent when the shell functions cannot be found.
jboolean JNICALL NATIVE_FUNCTION(ShellLink, changeNotify0)(JNIEnv* env, jclass, jbyteArray createdPath,
                                                           jbyteArray folderPath) {
    ShellFunctions shell;
    const bool found = loadShellFunctions(shell);
    auto notify = system_calls::resolve("SHChangeNotify", found ? shell.changeNotify : nullptr);
    const struct {
        jbyteArray array;
        LONG event;
        UINT flags;
    } notices[] = {{createdPath, SHCNE_CREATE, SHCNF_PATHW}, {folderPath, SHCNE_UPDATEDIR, SHCNF_PATHW | SHCNF_FLUSH}};
    for (const auto& notice : notices) {
        const ByteElements elements(env, notice.array);
        if (!elements.taken() || !notify) continue;
        const std::wstring path = utf16TextBeforeNul(elements.bytes(), elements.size());
        notify(notice.event, notice.flags, path.c_str(), nullptr);
    }
    return JNI_TRUE;
}

jboolean JNICALL NATIVE_FUNCTION(ShellLink, initialize0)(JNIEnv*, jclass) {
    CoInitialize(nullptr);
    return JNI_TRUE;
}

jboolean JNICALL NATIVE_FUNCTION(ShellLink, uninitialize)(JNIEnv*, jclass) {
    CoUninitialize();
    return JNI_TRUE;
}

// Shows a task dialog modally: custom buttons 101, 102, ... from the Java
// array, a standard icon, an optional verification box.  An owner that is no
// window (any more) is treated as no owner, so the dialog still shows.
jint JNICALL NATIVE_FUNCTION(VistaTaskDialog, show0)(JNIEnv* env, jclass, jlong ownerArgument, jstring titleArgument,
                                                     jstring instructionArgument, jstring contentArgument, jint flags,
                                                     jint icon, jint width, jstring verificationArgument,
                                                     jobjectArray buttonsArgument, jint defaultButton) {
    const TaskDialogIndirectFn showDialog = taskDialogFunction();
    if (!showDialog) return shell::kResultUnavailable;

    HWND owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(shell::ownerBits(ownerArgument)));
    if (owner && !IsWindow(owner)) owner = nullptr;
    const JavaString title(env, titleArgument);
    const JavaString instruction(env, instructionArgument);
    const JavaString content(env, contentArgument);
    const JavaString verification(env, verificationArgument);
    const std::vector<JavaString> buttonTexts =
        jni::readStringArray(env, buttonsArgument).value_or(std::vector<JavaString>{});
    std::vector<TASKDIALOG_BUTTON> buttons;
    buttons.reserve(buttonTexts.size());
    for (std::size_t i = 0; i < buttonTexts.size(); ++i)
        // A null element shows as an empty button rather than reaching the dialog as a null text.
        buttons.push_back({shell::buttonId(i), buttonTexts[i].isNull() ? L"" : buttonTexts[i].get()});

    TASKDIALOGCONFIG config;
    ZeroMemory(&config, sizeof config);
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = shell::taskDialogFlags(flags, owner && !IsIconic(owner));
    config.pszWindowTitle = title.get();
    config.hMainIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(shell::iconResource(icon)));
    config.pszMainInstruction = instruction.get();
    config.pszContent = content.get();
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.empty() ? nullptr : buttons.data();
    config.nDefaultButton = shell::defaultButtonId(defaultButton);
    config.pszVerificationText = verification.get();
    ZOrderState zOrder{owner, 0};
    if (owner) {
        config.pfCallback = keepBehindOwner;
        config.lpCallbackData = reinterpret_cast<LONG_PTR>(&zOrder);
    }
    config.cxWidth = static_cast<UINT>(width);

    int pressed = 0;
    BOOL verified = FALSE;
    if (FAILED(showDialog(&config, &pressed, nullptr, &verified))) {
        pressed = 0;
        verified = FALSE;
    }
    return shell::taskDialogResult(pressed, verified != FALSE);
}

}  // extern "C"
