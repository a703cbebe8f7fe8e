// The ShellLink and VistaTaskDialog natives through the JNI test double:
// links written by Wine's shell link object and read back through it, the
// failure paths with a stand-in link object that counts its references, the
// shell notices with their paths, and the task dialog's configuration, result
// and z-order timer with a stand-in for TaskDialogIndirect (the real dialog
// is shown end to end under Xvfb).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <thread>
#include <vector>

#include "launcher/system_calls.h"
#include "natives/com_ptr.h"
#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"

extern "C" jboolean JNICALL NATIVE_FUNCTION(ShellLink, create0)(JNIEnv*, jclass, jstring, jbyteArray, jbyteArray,
                                                                jbyteArray, jbyteArray, jboolean, jbyteArray);

namespace {

using system_calls::ReplaceFunction;
#define SHELL(name) NATIVE_FUNCTION(ShellLink, name)

std::wstring tempDirectory() {
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    return path;
}

std::vector<jbyte> bytesOf(const std::wstring& text, bool nul = true) {
    const auto* raw = reinterpret_cast<const jbyte*>(text.c_str());
    return std::vector<jbyte>(raw, raw + (text.size() + (nul ? 1 : 0)) * sizeof(wchar_t));
}

// A link file read back through the shell's own link object; the show
// command and the link flags straight from the file's header (Wine's loader
// does not give the show command back).
struct LinkRead {
    std::wstring path, arguments, directory, icon, description;
    int iconIndex = -1;
    std::uint32_t flags = 0, show = 0;
};
LinkRead readLink(const std::wstring& name) {
    LinkRead read;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.putVoid())) ||
        FAILED(link.queryInterface(IID_IPersistFile, persist)) || FAILED(persist->Load(name.c_str(), STGM_READ)))
        return read;
    wchar_t text[1024];
    if (SUCCEEDED(link->GetPath(text, 1024, nullptr, SLGP_RAWPATH))) read.path = text;
    if (SUCCEEDED(link->GetArguments(text, 1024))) read.arguments = text;
    if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) read.directory = text;
    if (SUCCEEDED(link->GetIconLocation(text, 1024, &read.iconIndex))) read.icon = text;
    if (SUCCEEDED(link->GetDescription(text, 1024))) read.description = text;
    UniqueFile file(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::uint32_t header[16] = {};
    DWORD got = 0;
    if (file && ReadFile(file.get(), header, sizeof header, &got, nullptr) && got == sizeof header) {
        read.flags = header[5];  // LinkFlags at byte 20
        read.show = header[15];  // ShowCommand at byte 60
    }
    return read;
}

class ShellLinkNatives : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tempDirectory() + L"tovrix-shell-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir_.c_str(), nullptr);
        ASSERT_TRUE(SHELL(initialize0)(e_.env(), nullptr));
    }
    void TearDown() override {
        for (const wchar_t* name : {L"\\wide.lnk", L"\\narrow.lnk", L"\\fake.lnk"}) DeleteFileW((dir_ + name).c_str());
        RemoveDirectoryW(dir_.c_str());
        EXPECT_TRUE(SHELL(uninitialize)(e_.env(), nullptr));
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.unreleasedBuffers(), 0);
    }
    jstring s(const std::wstring& text) { return e_.newString(text); }
    jboolean createWide(const std::wstring& link, jboolean runAs = JNI_FALSE, jstring target = nullptr) {
        return SHELL(createWide0)(e_.env(), nullptr, s(link), target ? target : s(L"C:\\windows\\notepad.exe"),
                                  s(L"C:\\windows"), s(L"C:\\windows\\system32\\shell32.dll"), s(L"-a \"b c\""), runAs,
                                  s(L"Notiz \u4e2d"), SW_SHOWMINNOACTIVE);
    }

    jni_double::Environment e_;
    std::wstring dir_;
};

TEST_F(ShellLinkNatives, WideLinkHoldsEverySettingAndTheRunAsFlag) {
    const std::wstring file = dir_ + L"\\wide.lnk";
    ASSERT_TRUE(createWide(file, JNI_TRUE));
    const LinkRead read = readLink(file);
    EXPECT_EQ(read.path, L"C:\\windows\\notepad.exe");
    EXPECT_EQ(read.arguments, L"-a \"b c\"");
    EXPECT_EQ(read.directory, L"C:\\windows");
    EXPECT_EQ(read.icon, L"C:\\windows\\system32\\shell32.dll");
    EXPECT_EQ(read.iconIndex, 0);
    EXPECT_EQ(read.description, L"Notiz \u4e2d");
    EXPECT_EQ(read.show, static_cast<std::uint32_t>(SW_SHOWMINNOACTIVE));
    if (!(read.flags & SLDF_RUNAS_USER))
        GTEST_SKIP() << "Wine's shell link object takes the run-as flag through IShellLinkDataList::SetFlags but "
                        "does not write it to the file (the native's flag update is tested with a stand-in below)";
}

TEST_F(ShellLinkNatives, NarrowLinkTakesAnsiBytesUpToTheirNul) {
    const std::wstring file = dir_ + L"\\narrow.lnk";
    auto narrow = [&](const std::string& text) {
        return e_.newByteArray(std::vector<jbyte>(text.begin(), text.end()));
    };
    // The description has no NUL: it ends with its array.
    ASSERT_TRUE(SHELL(create0)(e_.env(), nullptr, s(file), narrow(std::string("C:\\windows\\notepad.exe\0x", 25)),
                               narrow(std::string("C:\\windows\0", 11)), nullptr, narrow(std::string("/x\0", 3)),
                               JNI_FALSE, narrow("caf\xe9")));
    const LinkRead read = readLink(file);
    EXPECT_EQ(read.path, L"C:\\windows\\notepad.exe");
    EXPECT_EQ(read.directory, L"C:\\windows");
    EXPECT_EQ(read.arguments, L"/x");
    EXPECT_EQ(read.description, L"caf\u00e9");
    EXPECT_EQ(read.flags & SLDF_RUNAS_USER, 0u);
}

TEST_F(ShellLinkNatives, SaveFailuresAreFalseAndLeaveNoFile) {
    EXPECT_FALSE(createWide(dir_ + L"\\missing\\wide.lnk"));
    EXPECT_FALSE(SHELL(createWide0)(e_.env(), nullptr, nullptr, s(L"C:\\windows\\notepad.exe"), nullptr, nullptr,
                                    nullptr, JNI_FALSE, nullptr, 1));
    // Without COM on the calling thread the link object cannot be created.
    jboolean withoutCom = JNI_TRUE;
    std::thread([&] { withoutCom = createWide(dir_ + L"\\wide.lnk"); }).join();
    EXPECT_FALSE(withoutCom);
    EXPECT_EQ(GetFileAttributesW((dir_ + L"\\wide.lnk").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A stand-in for the shell link object, for the failures Wine's never shows.
// It counts its references, so a path that forgets a Release shows.
class FakeLink : public IShellLinkW, public IPersistFile, public IShellLinkDataList {
public:
    bool persist = true, dataList = true, getFlagsFails = false, setFlagsFails = false, saveFails = false;
    LONG references = 0;
    int saves = 0;
    DWORD flagsSet = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellLinkW) *out = static_cast<IShellLinkW*>(this);
        if (iid == IID_IPersistFile && persist) *out = static_cast<IPersistFile*>(this);
        if (iid == IID_IShellLinkDataList && dataList) *out = static_cast<IShellLinkDataList*>(this);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR, int, WIN32_FIND_DATAW*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR, int, int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR, int) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return ++saves, saveFails ? E_ACCESSDENIED : S_OK; }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddDataBlock(void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyDataBlock(DWORD, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveDataBlock(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFlags(DWORD* flags) override { return *flags = 0x4, getFlagsFails ? E_FAIL : S_OK; }
    HRESULT STDMETHODCALLTYPE SetFlags(DWORD flags) override { return flagsSet = flags, setFlagsFails ? E_FAIL : S_OK; }
};

FakeLink* fakeLink = nullptr;
HRESULT WINAPI createFake(REFCLSID, LPUNKNOWN, DWORD, REFIID iid, LPVOID* out) {
    return fakeLink ? fakeLink->QueryInterface(iid, out) : REGDB_E_CLASSNOTREG;
}

// The setters' results are not examined; every failing step after them gives
// false and every path releases each interface it took.
TEST_F(ShellLinkNatives, FailingStepsGiveFalseAndReleaseEveryInterface) {
    const ReplaceFunction create("CoCreateInstance", &createFake);
    struct Case {
        const char* what;
        void (*arrange)(FakeLink&);
        jboolean runAs;
        bool saved;
        int saves;
    };
    const Case cases[] = {
        {"plain link", [](FakeLink&) {}, JNI_FALSE, true, 1},
        {"run as: flag added", [](FakeLink&) {}, JNI_TRUE, true, 1},
        {"no persist-file interface", [](FakeLink& f) { f.persist = false; }, JNI_FALSE, false, 0},
        {"run as without a data list", [](FakeLink& f) { f.dataList = false; }, JNI_TRUE, false, 0},
        {"flags cannot be read", [](FakeLink& f) { f.getFlagsFails = true; }, JNI_TRUE, false, 0},
        {"flags cannot be written", [](FakeLink& f) { f.setFlagsFails = true; }, JNI_TRUE, false, 0},
        {"save fails", [](FakeLink& f) { f.saveFails = true; }, JNI_FALSE, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLink link;
        c.arrange(link);
        fakeLink = &link;
        EXPECT_EQ(createWide(dir_ + L"\\fake.lnk", c.runAs), c.saved ? JNI_TRUE : JNI_FALSE);
        EXPECT_EQ(link.saves, c.saves);
        EXPECT_EQ(link.references, 0);
        if (c.runAs && c.saved) {
            EXPECT_EQ(link.flagsSet, 0x4u | SLDF_RUNAS_USER);
        }
    }
    fakeLink = nullptr;
    EXPECT_FALSE(createWide(dir_ + L"\\fake.lnk"));  // the object cannot be created
}

struct Notice {
    LONG event;
    UINT flags;
    std::wstring path;
};
std::vector<Notice> notices;
void WINAPI recordNotice(LONG event, UINT flags, LPCVOID path, LPCVOID) {
    notices.push_back({event, flags, static_cast<const wchar_t*>(path)});
}

TEST_F(ShellLinkNatives, ChangeNoticesCarryThePathsOfTheArrays) {
    EXPECT_TRUE(SHELL(changeNotify0)(e_.env(), nullptr, e_.newByteArray(bytesOf(dir_ + L"\\x.lnk")),
                                     e_.newByteArray(bytesOf(dir_))));  // through the real shell
    const ReplaceFunction notify("SHChangeNotify", &recordNotice);
    notices.clear();
    EXPECT_TRUE(SHELL(changeNotify0)(e_.env(), nullptr, e_.newByteArray(bytesOf(L"C:\\a\\b.lnk")),
                                     e_.newByteArray(bytesOf(L"C:\\a\u4e2d", false))));
    EXPECT_TRUE(SHELL(changeNotify0)(e_.env(), nullptr, nullptr, e_.newByteArray(bytesOf(L"C:\\c"))));
    EXPECT_TRUE(SHELL(changeNotify0)(e_.env(), nullptr, nullptr, nullptr));
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].event, SHCNE_CREATE);
    EXPECT_EQ(notices[0].flags, static_cast<UINT>(SHCNF_PATHW));
    EXPECT_EQ(notices[0].path, L"C:\\a\\b.lnk");
    EXPECT_EQ(notices[1].event, SHCNE_UPDATEDIR);
    EXPECT_EQ(notices[1].flags, 0x1005u);
    EXPECT_EQ(notices[1].path, L"C:\\a\u4e2d");  // no NUL in the array: its end ends the path
    EXPECT_EQ(notices[2].path, L"C:\\c");
}

// ---- Task dialog

struct DialogSeen {
    TASKDIALOGCONFIG config;
    std::wstring title, instruction, content, verification;
    std::vector<std::pair<int, std::wstring>> buttons;
    std::vector<UINT> positions;  // SetWindowPos flags of the timer ticks
};
DialogSeen seen;
int pressedId = 0;
BOOL verifiedBox = FALSE;
HRESULT dialogResult = S_OK;
HWND insertedAfter = nullptr;

BOOL WINAPI recordPosition(HWND, HWND after, int, int, int, int, UINT flags) {
    insertedAfter = after;
    seen.positions.push_back(flags);
    return TRUE;
}
HRESULT WINAPI fakeTaskDialog(const TASKDIALOGCONFIG* config, int* button, int* radio, BOOL* verified) {
    seen = DialogSeen{*config, {}, {}, {}, {}, {}, {}};
    auto text = [](PCWSTR t) { return t ? std::wstring(t) : std::wstring(L"<null>"); };
    seen.title = text(config->pszWindowTitle);
    seen.instruction = text(config->pszMainInstruction);
    seen.content = text(config->pszContent);
    seen.verification = text(config->pszVerificationText);
    for (UINT i = 0; i < config->cButtons; ++i)
        seen.buttons.push_back({config->pButtons[i].nButtonID, config->pButtons[i].pszButtonText});
    for (int tick = 0; tick < 7 && config->pfCallback; ++tick)
        EXPECT_EQ(config->pfCallback(nullptr, TDN_TIMER, 200, 0, config->lpCallbackData), S_OK);
    if (config->pfCallback) {
        EXPECT_EQ(config->pfCallback(nullptr, TDN_BUTTON_CLICKED, 101, 0, config->lpCallbackData), S_OK);
    }
    *button = pressedId;
    EXPECT_EQ(radio, nullptr);
    *verified = verifiedBox;
    return dialogResult;
}

class TaskDialogNative : public ::testing::Test {
protected:
    jint show(jlong owner, jint defaultButton = 1, jstring verification = nullptr) {
        return NATIVE_FUNCTION(VistaTaskDialog, show0)(
            e_.env(), nullptr, owner, e_.newString(L"Titel"), e_.newString(L"Anweisung"), nullptr, 0x8, 32515, 300,
            verification,
            e_.newObjectArray("java/lang/String", {e_.newString(L"Ja"), nullptr, e_.newString(L"\u4e2d")}),
            defaultButton);
    }
    jni_double::Environment e_;
};

TEST_F(TaskDialogNative, ConfigurationFromTheJavaArguments) {
    const ReplaceFunction dialog("TaskDialogIndirect", &fakeTaskDialog);
    pressedId = 103, verifiedBox = FALSE, dialogResult = S_OK;
    EXPECT_EQ(show(0, 1, e_.newString(L"Nicht mehr fragen")), 3);
    const TASKDIALOGCONFIG& c = seen.config;
    EXPECT_EQ(c.cbSize, sizeof(TASKDIALOGCONFIG));
    EXPECT_EQ(c.hwndParent, nullptr);
    EXPECT_EQ(c.dwFlags, 0x80Au);  // no owner: no relative position, no callback
    EXPECT_EQ(c.pfCallback, nullptr);
    EXPECT_EQ(c.dwCommonButtons, 0);
    EXPECT_EQ(c.hMainIcon, LoadIconW(nullptr, IDI_WARNING));
    EXPECT_EQ(seen.title, L"Titel");
    EXPECT_EQ(seen.instruction, L"Anweisung");
    EXPECT_EQ(seen.content, L"<null>");
    EXPECT_EQ(seen.verification, L"Nicht mehr fragen");
    const std::vector<std::pair<int, std::wstring>> buttons = {{101, L"Ja"}, {102, L""}, {103, L"\u4e2d"}};
    EXPECT_EQ(seen.buttons, buttons);
    EXPECT_EQ(c.nDefaultButton, 102);
    EXPECT_EQ(c.cxWidth, 300u);
    EXPECT_EQ(e_.problems(), std::vector<std::string>{});
}

TEST_F(TaskDialogNative, ResultsOfTheDialog) {
    const ReplaceFunction dialog("TaskDialogIndirect", &fakeTaskDialog);
    struct Case {
        int pressed;
        BOOL verified;
        HRESULT result;
        jint expected;
    };
    const Case cases[] = {{101, FALSE, S_OK, 1},
                          {103, TRUE, S_OK, -3},
                          {IDCANCEL, FALSE, S_OK, 1000},
                          {IDCANCEL, TRUE, S_OK, -1000},
                          {102, TRUE, E_OUTOFMEMORY, 1000}};
    for (const Case& c : cases) {
        pressedId = c.pressed, verifiedBox = c.verified, dialogResult = c.result;
        EXPECT_EQ(show(0), c.expected) << c.pressed << " " << c.verified;
    }
    const ReplaceFunction missing("TaskDialogIndirect", nullptr);
    EXPECT_EQ(show(0), 0);
}

// The owner is a window here: the dialog is placed relative to it and kept
// behind it on every timer tick, activated only on the first five.  An
// owner value that is no window is no owner.
TEST_F(TaskDialogNative, OwnerWindowGetsTheZOrderTimer) {
    const ReplaceFunction dialog("TaskDialogIndirect", &fakeTaskDialog);
    const ReplaceFunction position("SetWindowPos", &recordPosition);
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    pressedId = 101, verifiedBox = FALSE, dialogResult = S_OK;
    EXPECT_EQ(show(static_cast<jlong>(reinterpret_cast<ULONG_PTR>(owner))), 1);
    EXPECT_EQ(seen.config.hwndParent, owner);
    EXPECT_EQ(seen.config.dwFlags, 0x180Au);
    EXPECT_EQ(insertedAfter, owner);
    const UINT kept = SWP_NOMOVE | SWP_NOSIZE;
    const std::vector<UINT> positions = {kept, kept, kept, kept, kept, kept | SWP_NOACTIVATE, kept | SWP_NOACTIVATE};
    EXPECT_EQ(seen.positions, positions);
    DestroyWindow(owner);
    for (jlong gone : {static_cast<jlong>(reinterpret_cast<ULONG_PTR>(owner)), jlong{-1}}) {
        seen.positions.clear();
        EXPECT_EQ(show(gone), 1);
        EXPECT_EQ(seen.config.hwndParent, nullptr);
        EXPECT_EQ(seen.config.pfCallback, nullptr);
        EXPECT_TRUE(seen.positions.empty());
    }
}

}  // namespace
