// The natives of VistaFileChooser and ObjectPicker through the JNI test
// double under Wine.
//
// The file chooser: arguments the dialog cannot take are refused before it
// exists; a real common item dialog, where this process can show one, is
// answered by a thread of the test (cancelled, or confirmed with a typed file
// name and a ticked box).  The object picker: Wine's picker is a stub whose
// InvokeDialog answers S_FALSE (cancelled) without showing anything, so the
// conversion of a selection into ObjectPicker$Result objects is tested on a
// selection list built here, and show0 itself on what Wine gives.
#include <gtest/gtest.h>

#include <windows.h>

#include <ole2.h>  // VARIANT and IDataObject, which objsel.h uses

#include <objsel.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/choosers_win.h"
#include "natives/native_prototypes.h"
#include "natives/picker_scope.h"
#include "tests/jni_double/jni_double.h"
#include "tests/unit/stdout_capture.h"

namespace {

const char kResultClass[] = "com/tovrix/runtime/installer/platform/win32/ObjectPicker$Result";
const char kResultSignature[] =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V";

// ---- Windows of this process

std::wstring classOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

struct Search {
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK findOwnDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || classOf(window) != L"#32770") return TRUE;
    if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND ownDialog(bool visibleOnly) {
    Search search{visibleOnly, nullptr};
    EnumWindows(findOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct ChildSearch {
    std::wstring className;
    std::wstring text;  // empty: any
    HWND found;
};

BOOL CALLBACK findChild(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    if (classOf(window) == search->className && (search->text.empty() || textOf(window) == search->text)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND descendant(HWND dialog, const std::wstring& className, const std::wstring& text = L"") {
    ChildSearch search{className, text, nullptr};
    EnumChildWindows(dialog, findChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Answers the one dialog this process shows, from a thread of its own: what
// `answer` does to it, then OK (or Cancel).  Gives up after the time-out;
// a dialog that exists but never becomes visible is cancelled then.
class DialogAnswerer {
public:
    using Answer = std::function<bool(HWND dialog)>;  // false: press Cancel instead of OK
    explicit DialogAnswerer(Answer answer, DWORD timeoutMs = 20000)
        : thread_([this, answer, timeoutMs] { run(answer, timeoutMs); }) {}
    ~DialogAnswerer() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    bool sawVisibleDialog() const { return sawVisible_.load(); }

private:
    void run(const Answer& answer, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            if (HWND dialog = ownDialog(true)) {
                sawVisible_ = true;
                Sleep(300);  // let the dialog finish its set-up
                const bool ok = answer(dialog);
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ok ? IDOK : IDCANCEL, BN_CLICKED), 0);
                return;
            }
            Sleep(50);
        }
        if (HWND hidden = ownDialog(false)) PostMessageW(hidden, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }

    std::atomic<bool> sawVisible_{false};
    std::thread thread_;
};

LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND plainWindow(bool visible) {
    static const ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = plainWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"tovrix-picker-owner";
        return RegisterClassW(&wc);
    }();
    if (!atom) return nullptr;
    return CreateWindowExW(0, L"tovrix-picker-owner", L"owner", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 0, 0,
                           100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// Whether this process can have windows at all: Wine without an X display
// creates none (and shows no dialog).
bool windowsCanBeShown() {
    static const bool can = [] {
        HWND probe = plainWindow(false);
        if (probe) DestroyWindow(probe);
        return probe != nullptr;
    }();
    return can;
}

#define REQUIRE_WINDOWS()                                                                              \
    if (!windowsCanBeShown())                                                                          \
    GTEST_SKIP() << "this process cannot create windows (Wine without an X display); the dialogs are " \
                    "covered end to end under Xvfb"

class ChooserNatives : public ::testing::Test {
protected:
    void SetUp() override {
        e_.declareClass(kResultClass);
        e_.declareMethod(kResultClass, "<init>", kResultSignature);
        // The calling thread's apartment, as the Java side sets it up first.
        NATIVE_FUNCTION(VistaFileChooser, initialize0)(env(), nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
        EXPECT_EQ(e_.unreleasedBuffers(), 0);
    }

    JNIEnv* env() { return e_.env(); }
    jstring str(const wchar_t* text) { return text ? e_.newString(text) : nullptr; }
    jobjectArray strings(const std::vector<std::wstring>& entries) { return e_.newStringArray(entries); }

    // displayDialog0 with a title, OK label, folder and file name, no options.
    jobjectArray display(const std::wstring& folder, jboolean save, jobjectArray names, jobjectArray patterns,
                         jint filterIndex, jobjectArray labels, jbooleanArray states,
                         const wchar_t* fileName = nullptr) {
        return NATIVE_FUNCTION(VistaFileChooser, displayDialog0)(env(), nullptr, 0, str(L"Pick one"), str(L"Take it"),
                                                                 str(folder.c_str()), str(fileName), 0, 0, save,
                                                                 nullptr, names, patterns, filterIndex, labels, states);
    }

    std::vector<bool> booleans(jbooleanArray array) {
        std::vector<jboolean> raw(static_cast<std::size_t>(env()->GetArrayLength(array)));
        if (!raw.empty()) env()->GetBooleanArrayRegion(array, 0, static_cast<jsize>(raw.size()), raw.data());
        return std::vector<bool>(raw.begin(), raw.end());
    }

    std::wstring tempFolder() {
        wchar_t directory[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, directory);
        std::wstring folder = std::wstring(directory) + L"tovrix-chooser-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        return folder;
    }

    jni_double::Environment e_;
};

// Refused before the dialog is created: nothing is shown and nothing of the
// arrays is left taken.
TEST_F(ChooserNatives, ArgumentsTheDialogCannotTakeAreRefused) {
    struct Case {
        const char* what;
        std::function<jobjectArray()> names, patterns, labels;
        std::function<jbooleanArray()> states;
    };
    auto none = [] { return static_cast<jobjectArray>(nullptr); };
    auto noStates = [] { return static_cast<jbooleanArray>(nullptr); };
    const std::vector<Case> cases = {
        {"a filter name without a pattern",
         [&] {
             return strings({L"Text", L"All"});
         },
         [&] { return strings({L"*.txt"}); }, none, noStates},
        {"a null filter name",
         [&] {
             return e_.newObjectArray("java/lang/String", {e_.newString(L"Text"), nullptr});
         },
         [&] {
             return strings({L"*.txt", L"*.*"});
         },
         none, noStates},
        {"a null pattern", [&] { return strings({L"Text"}); },
         [&] { return e_.newObjectArray("java/lang/String", {nullptr}); }, none, noStates},
        {"a check box without a state", none, none,
         [&] {
             return strings({L"One", L"Two"});
         },
         [&] { return e_.newBooleanArray({true}); }},
        {"check boxes without states", none, none, [&] { return strings({L"One"}); }, noStates},
        {"a null label", none, none, [&] { return e_.newObjectArray("java/lang/String", {nullptr}); },
         [&] { return e_.newBooleanArray({false}); }},
    };
    for (const Case& c : cases) {
        DialogAnswerer guard([](HWND) { return false; }, 500);
        EXPECT_EQ(display(tempFolder(), JNI_FALSE, c.names(), c.patterns(), 0, c.labels(), c.states()), nullptr)
            << c.what;
        guard.join();
        EXPECT_FALSE(guard.sawVisibleDialog()) << c.what;
    }
}

TEST_F(ChooserNatives, CancelGivesNullAndLeavesTheStates) {
    REQUIRE_WINDOWS();
    jbooleanArray states = e_.newBooleanArray({true, false});
    DialogAnswerer answerer([](HWND dialog) {
        if (HWND box = descendant(dialog, L"Button", L"Second")) SendMessageW(box, BM_CLICK, 0, 0);
        return false;
    });
    jobjectArray chosen =
        display(tempFolder(), JNI_FALSE, nullptr, nullptr, -1, strings({L"First", L"Second"}), states);
    answerer.join();
    ASSERT_TRUE(answerer.sawVisibleDialog());
    EXPECT_EQ(chosen, nullptr);
    EXPECT_EQ(booleans(states), (std::vector<bool>{true, false}));
}

TEST_F(ChooserNatives, OkGivesTheTypedFileInTheStartFolderAndTheBoxStates) {
    REQUIRE_WINDOWS();
    const std::wstring folder = tempFolder();
    const std::wstring file = folder + L"\\chosen.txt";
    UniqueFile(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    jbooleanArray states = e_.newBooleanArray({true, false});
    std::wstring groupLabel;
    DialogAnswerer answerer([&](HWND dialog) {
        if (HWND group = descendant(dialog, L"Static", L"Options:")) groupLabel = textOf(group);
        if (HWND box = descendant(dialog, L"Button", L"Second")) SendMessageW(box, BM_CLICK, 0, 0);
        if (HWND name = descendant(dialog, L"Edit")) SendMessageW(name, WM_SETTEXT, 0, LPARAM(L"chosen.txt"));
        return true;
    });
    jobjectArray chosen = display(folder, JNI_FALSE, strings({L"Text files", L"All files"}),
                                  strings({L"*.txt", L"*.*"}), 0, strings({L"First", L"Second"}), states);
    answerer.join();
    ASSERT_TRUE(answerer.sawVisibleDialog());
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(e_.stringArrayValue(chosen), (std::vector<std::wstring>{file}));
    EXPECT_EQ(booleans(states), (std::vector<bool>{true, true}));
    EXPECT_EQ(groupLabel, L"Options:");
    DeleteFileW(file.c_str());
}

// ---- Object picker

// A selection list as the picker hands it out, with one SID attribute each.
class Selection {
public:
    explicit Selection(std::size_t items)
        : block_(offsetof(DS_SELECTION_LIST, aDsSelection) + items * sizeof(DS_SELECTION)), variants_(items) {
        list()->cItems = static_cast<ULONG>(items);
        list()->cFetchedAttributes = 1;
        for (std::size_t i = 0; i < items; ++i) {
            VariantInit(&variants_[i]);
            list()->aDsSelection[i].pvarFetchedAttributes = &variants_[i];
        }
    }
    ~Selection() {
        for (VARIANT& v : variants_) VariantClear(&v);
    }
    DS_SELECTION_LIST* list() { return reinterpret_cast<DS_SELECTION_LIST*>(block_.data()); }
    std::size_t bytes() const { return block_.size(); }
    DS_SELECTION& item(std::size_t i) { return list()->aDsSelection[i]; }
    void setSidBytes(std::size_t i, const std::vector<unsigned char>& bytes) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        void* data = nullptr;
        SafeArrayAccessData(array, &data);
        std::copy(bytes.begin(), bytes.end(), static_cast<unsigned char*>(data));
        SafeArrayUnaccessData(array);
        variants_[i].vt = VT_ARRAY | VT_UI1;
        variants_[i].parray = array;
    }

private:
    std::vector<unsigned char> block_;
    std::vector<VARIANT> variants_;
};

std::vector<unsigned char> sidBytes(const wchar_t* text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid)) return {};
    const UniqueLocalMemory<void> owned(sid);
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return std::vector<unsigned char>(bytes, bytes + GetLengthSid(sid));
}

TEST_F(ChooserNatives, SelectionBecomesResultObjectsWithSidStrings) {
    Selection selection(4);
    wchar_t name[] = L"Administrators", path[] = L"WinNT://HOST/Administrators", group[] = L"group";
    wchar_t user[] = L"svc", userClass[] = L"user", upn[] = L"svc@example.org";
    selection.item(0) = {name, path, group, nullptr, selection.item(0).pvarFetchedAttributes, 0};
    selection.setSidBytes(0, sidBytes(L"S-1-5-32-544"));
    selection.item(1) = {user, nullptr, userClass, upn, selection.item(1).pvarFetchedAttributes, 0};  // no SID
    selection.item(2) = {nullptr, nullptr, nullptr, nullptr, selection.item(2).pvarFetchedAttributes, 0};
    std::vector<unsigned char> cut = sidBytes(L"S-1-5-21-1-2-3-1001");
    cut.resize(cut.size() - 4);  // announces one sub-authority more than it holds
    selection.setSidBytes(2, cut);
    selection.item(3) = {user, nullptr, userClass, nullptr, selection.item(3).pvarFetchedAttributes, 0};
    selection.setSidBytes(3, sidBytes(L"S-1-5-21-1-2-3-1001"));

    e_.resetPeakLocalRefs();
    const int before = e_.liveLocalRefs();
    jobjectArray results =
        choosers::selectionResults(env(), selection.list(), selection.bytes(), &ConvertSidToStringSidW);
    ASSERT_NE(results, nullptr);
    EXPECT_EQ(e_.classNameOf(results), std::string("[L") + kResultClass + ";");
    std::vector<std::string> made;
    for (jobject result : e_.arrayElements(results)) made.push_back(e_.constructorArguments(result));
    EXPECT_EQ(made, (std::vector<std::string>{
                        R"(("Administrators", "WinNT://HOST/Administrators", "group", null, "S-1-5-32-544"))",
                        R"(("svc", null, "user", "svc@example.org", null))",
                        R"((null, null, null, null, null))",
                        R"(("svc", null, "user", null, "S-1-5-21-1-2-3-1001"))",
                    }));
    // The array and the lookups' references only, however many items.
    EXPECT_LE(e_.peakLocalRefs() - before, 10);
}

TEST_F(ChooserNatives, SelectionsThatCannotBeReadGiveNull) {
    Selection selection(2);
    EXPECT_EQ(choosers::selectionResults(env(), nullptr, 0, &ConvertSidToStringSidW), nullptr);
    // A block shorter than the items it announces.
    EXPECT_EQ(choosers::selectionResults(env(), selection.list(), selection.bytes() - 1, &ConvertSidToStringSidW),
              nullptr);

    jni_double::Environment withoutResultClass;
    EXPECT_EQ(choosers::selectionResults(withoutResultClass.env(), selection.list(), selection.bytes(),
                                         &ConvertSidToStringSidW),
              nullptr);
    EXPECT_EQ(withoutResultClass.pendingException(), nullptr);
    EXPECT_EQ(withoutResultClass.problems(), std::vector<std::string>{});
}

// Runs first among the picker tests that make windows: without a visible
// window and without a console window, show0 prints its diagnostic.
TEST_F(ChooserNatives, PickerWithoutAnyWindowPrintsItsDiagnostic) {
    if (choosers::findPickerOwner())
        GTEST_SKIP() << "this test process has a window or a console window, so the picker has an owner";
    StdoutCapture output;
    EXPECT_EQ(NATIVE_FUNCTION(ObjectPicker, show0)(env(), nullptr, JNI_FALSE, JNI_TRUE, JNI_TRUE, JNI_FALSE, JNI_TRUE),
              nullptr);
    EXPECT_EQ(output.finish(), "could not find window\n");
}

TEST_F(ChooserNatives, PickerOwnerIsAVisibleWindowOfThisProcess) {
    REQUIRE_WINDOWS();
    HWND hidden = plainWindow(false);
    HWND shown = plainWindow(true);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(choosers::findPickerOwner(), shown);
    DestroyWindow(shown);
    EXPECT_NE(choosers::findPickerOwner(), hidden);
    DestroyWindow(hidden);
}

// Wine's object picker initialises and answers InvokeDialog with S_FALSE
// (its cancel) without showing a dialog: show0 gives null after reaching it.
TEST_F(ChooserNatives, PickerThatIsCancelledGivesNull) {
    REQUIRE_WINDOWS();
    {
        IDsObjectPicker* probe = nullptr;
        if (FAILED(CoCreateInstance(CLSID_DsObjectPicker, nullptr, CLSCTX_INPROC_SERVER, IID_IDsObjectPicker,
                                    reinterpret_cast<void**>(&probe))))
            GTEST_SKIP() << "no directory object picker is registered in this Wine prefix";
        HWND owner = plainWindow(true);
        IDataObject* selection = nullptr;
        const HRESULT answer = probe->InvokeDialog(owner, &selection);
        probe->Release();
        DestroyWindow(owner);
        if (answer != S_FALSE)
            GTEST_SKIP() << "this picker shows a real dialog (InvokeDialog answered " << answer
                         << "), which a unit test cannot answer";
    }
    HWND owner = plainWindow(true);
    StdoutCapture output;
    EXPECT_EQ(NATIVE_FUNCTION(ObjectPicker, show0)(env(), nullptr, JNI_TRUE, JNI_FALSE, JNI_TRUE, JNI_TRUE, JNI_FALSE),
              nullptr);
    EXPECT_EQ(output.finish(), "");
    DestroyWindow(owner);
}

// The portable decision table against the picker's own flag names.
TEST(PickerScopeFlags, AreTheDirectoryPickersOwn) {
    const picker::Scope usersAndServices = picker::scopeFor({false, false, true, true, true});
    EXPECT_EQ(usersAndServices.types, static_cast<std::uint32_t>(DSOP_SCOPE_TYPE_TARGET_COMPUTER));
    EXPECT_EQ(usersAndServices.flags,
              static_cast<std::uint32_t>(DSOP_SCOPE_FLAG_DEFAULT_FILTER_USERS | DSOP_SCOPE_FLAG_DEFAULT_FILTER_GROUPS));
    EXPECT_EQ(usersAndServices.uplevelBothModes,
              static_cast<std::uint32_t>(DSOP_FILTER_USERS | DSOP_FILTER_WELL_KNOWN_PRINCIPALS));
    EXPECT_EQ(usersAndServices.downlevel,
              static_cast<std::uint32_t>(DSOP_DOWNLEVEL_FILTER_USERS | DSOP_DOWNLEVEL_FILTER_SYSTEM |
                                         DSOP_DOWNLEVEL_FILTER_LOCAL_SERVICE | DSOP_DOWNLEVEL_FILTER_NETWORK_SERVICE));
    const picker::Scope groups = picker::scopeFor({true, true, false, true, false});
    EXPECT_EQ(groups.types,
              static_cast<std::uint32_t>(
                  DSOP_SCOPE_TYPE_TARGET_COMPUTER | DSOP_SCOPE_TYPE_UPLEVEL_JOINED_DOMAIN |
                  DSOP_SCOPE_TYPE_DOWNLEVEL_JOINED_DOMAIN | DSOP_SCOPE_TYPE_ENTERPRISE_DOMAIN |
                  DSOP_SCOPE_TYPE_EXTERNAL_UPLEVEL_DOMAIN | DSOP_SCOPE_TYPE_EXTERNAL_DOWNLEVEL_DOMAIN |
                  DSOP_SCOPE_TYPE_USER_ENTERED_UPLEVEL_SCOPE | DSOP_SCOPE_TYPE_USER_ENTERED_DOWNLEVEL_SCOPE));
    EXPECT_EQ(groups.uplevelBothModes,
              static_cast<std::uint32_t>(DSOP_FILTER_BUILTIN_GROUPS | DSOP_FILTER_UNIVERSAL_GROUPS_DL |
                                         DSOP_FILTER_UNIVERSAL_GROUPS_SE | DSOP_FILTER_GLOBAL_GROUPS_DL |
                                         DSOP_FILTER_GLOBAL_GROUPS_SE | DSOP_FILTER_DOMAIN_LOCAL_GROUPS_DL |
                                         DSOP_FILTER_DOMAIN_LOCAL_GROUPS_SE | DSOP_FILTER_WELL_KNOWN_PRINCIPALS));
    EXPECT_EQ(groups.downlevel,
              static_cast<std::uint32_t>(DSOP_DOWNLEVEL_FILTER_LOCAL_GROUPS | DSOP_DOWNLEVEL_FILTER_GLOBAL_GROUPS |
                                         DSOP_DOWNLEVEL_FILTER_ALL_WELLKNOWN_SIDS));
    EXPECT_EQ(groups.pickerOptions, static_cast<std::uint32_t>(DSOP_FLAG_MULTISELECT));
}

}  // namespace
