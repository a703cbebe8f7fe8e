// The window natives of Misc through the JNI test double, under Wine: titles,
// top-level windows and raising, on the windows of peer processes and of the
// test itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"
#include "tests/unit/process_test_support.h"

#define MISC(name) NATIVE_FUNCTION(Misc, name)

namespace {

using namespace process_tests;

const char kWindowInfo[] = "com/tovrix/api/windows/WindowInfo";
const char kWindowInfoConstructor[] = "(JILjava/lang/String;Ljava/lang/String;)V";

class WindowNatives : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
    }
    JNIEnv* env() { return e_.env(); }
    std::wstring title(DWORD pid) {
        jstring result = MISC(getWindowTitle0)(env(), nullptr, static_cast<jint>(pid));
        EXPECT_TRUE(e_.isString(result)) << "never null";
        return e_.stringValue(result);
    }
    jclass windowInfoClass(bool withConstructor = true) {
        e_.declareClass(kWindowInfo);
        if (withConstructor) e_.declareMethod(kWindowInfo, "<init>", kWindowInfoConstructor);
        return e_.findClass(kWindowInfo);
    }
    // The constructor arguments of each element (or "null").
    std::vector<std::string> infos(jobjectArray array) {
        std::vector<std::string> out;
        for (jobject element : e_.arrayElements(array))
            out.push_back(element ? e_.constructorArguments(element) : "null");
        return out;
    }

    jni_double::Environment e_;
};

std::string infoArguments(HWND window, const std::string& title) {
    return "(" + std::to_string(static_cast<long long>(reinterpret_cast<INT_PTR>(window))) + "L, " +
           std::to_string(static_cast<int>(GetWindowLongW(window, GWL_STYLE))) + ", \"TovrixPeerWindow\", \"" + title +
           "\")";
}

struct HiddenTitles {
    DWORD pid;
    std::vector<std::wstring> titles;
};

BOOL CALLBACK collectHiddenTitle(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<HiddenTitles*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t text[4096] = {};
    if (owner == search->pid && !IsWindowVisible(window) && GetWindowTextW(window, text, 4096) > 0)
        search->titles.push_back(text);
    return TRUE;
}

// The titles of a process's hidden top-level windows that have one.
std::vector<std::wstring> hiddenWindowTitles(DWORD pid) {
    HiddenTitles search{pid, {}};
    EnumWindows(collectHiddenTitle, reinterpret_cast<LPARAM>(&search));
    return search.titles;
}

TEST_F(WindowNatives, TitleOfTheFirstVisibleTitledWindowElseOfAHiddenOne) {
    REQUIRE_WINDOWS();
    Peer shown(L"shown \u4e2d title", {L"hidden-also=hidden title"});
    Peer hidden(L"only hidden", {L"hidden"});
    Peer untitled(L"", {L"untitled"});
    ASSERT_TRUE(shown.up() && hidden.up() && untitled.up());
    EXPECT_EQ(title(shown.pid()), L"shown \u4e2d title");
    // Without a visible titled window, a hidden window's title: the peer's
    // own or that of its input method window ("Default IME"), which Windows
    // creates hidden for every thread with windows.
    for (const Peer* peer : {&hidden, &untitled}) {
        const std::vector<std::wstring> hiddenTitles = hiddenWindowTitles(peer->pid());
        EXPECT_FALSE(hiddenTitles.empty());
        const std::wstring found = title(peer->pid());
        EXPECT_NE(std::find(hiddenTitles.begin(), hiddenTitles.end(), found), hiddenTitles.end()) << narrow(found);
    }
    EXPECT_EQ(title(0x7FFFFFF0), L"") << "a process without windows";
}

TEST_F(WindowNatives, TopLevelWindowsAreTheVisibleUnownedOnesOfTheProcess) {
    REQUIRE_WINDOWS();
    Peer peer(L"main \u4e2d", {L"owned=owned window", L"hidden-also=hidden window"});
    ASSERT_TRUE(peer.up());
    jclass info = windowInfoClass();
    const auto array = MISC(getTopLevelWindows0)(env(), nullptr, info, static_cast<jint>(peer.pid()));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(e_.classNameOf(array), std::string("[L") + kWindowInfo + ";");
    EXPECT_EQ(infos(array), std::vector<std::string>{infoArguments(peer.window(), narrow(L"main \u4e2d"))});
}

TEST_F(WindowNatives, AWindowWithoutTitleLeavesANullSlot) {
    REQUIRE_WINDOWS();
    Peer peer(L"", {L"untitled"});
    ASSERT_TRUE(peer.up());
    const auto array = MISC(getTopLevelWindows0)(env(), nullptr, windowInfoClass(), static_cast<jint>(peer.pid()));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(infos(array), std::vector<std::string>{"null"});
}

TEST_F(WindowNatives, TopLevelWindowsFailureValues) {
    REQUIRE_WINDOWS();
    Peer hidden(L"hidden", {L"hidden"}), shown(L"shown");
    ASSERT_TRUE(hidden.up() && shown.up());
    EXPECT_EQ(MISC(getTopLevelWindows0)(env(), nullptr, windowInfoClass(), static_cast<jint>(hidden.pid())), nullptr)
        << "no visible window";
    EXPECT_TRUE(e_.events("NewObjectArray").empty() && e_.events("GetMethodID").empty())
        << "nothing is looked up for a process without windows";

    jni_double::Environment plain;
    plain.declareClass(kWindowInfo);  // without its constructor
    OutputCapture errors(stderr);
    EXPECT_EQ(
        MISC(getTopLevelWindows0)(plain.env(), nullptr, plain.findClass(kWindowInfo), static_cast<jint>(shown.pid())),
        nullptr);
    EXPECT_EQ(MISC(getTopLevelWindows0)(plain.env(), nullptr, nullptr, static_cast<jint>(shown.pid())), nullptr);
    EXPECT_EQ(errors.text(), "window info constructor not found\nwindow info constructor not found\n");
    EXPECT_EQ(plain.pendingException(), nullptr) << "the failed lookup's exception is cleared";
}

TEST_F(WindowNatives, SetForegroundWindowRestoresAMinimisedWindow) {
    REQUIRE_WINDOWS();
    Peer peer(L"minimised peer", {L"minimized"});
    ASSERT_TRUE(peer.up());
    ASSERT_TRUE(IsIconic(peer.window()));
    MISC(setForegroundWindow0)(env(), nullptr, static_cast<jlong>(reinterpret_cast<INT_PTR>(peer.window())));
    EXPECT_TRUE(peer.awaitLog("restored")) << peer.log();
    EXPECT_FALSE(IsIconic(peer.window()));
    MISC(setForegroundWindow0)(env(), nullptr, 0);  // no window: nothing happens
}

LRESULT CALLBACK plainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(WindowNatives, ToFrontRaisesTheProcessesOwnVisibleWindow) {
    REQUIRE_WINDOWS();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = plainProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TovrixUnitOwnWindow";
    RegisterClassW(&windowClass);
    HWND own = CreateWindowExW(0, windowClass.lpszClassName, L"own", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                               nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(own, nullptr);
    REQUIRE_WINDOWS();
    Peer peer(L"foreground peer");
    ASSERT_TRUE(peer.up());
    SetForegroundWindow(peer.window());
    if (GetForegroundWindow() != peer.window()) {
        DestroyWindow(own);
        GTEST_SKIP() << "this Wine session has no foreground window to move (no X display)";
    }
    MISC(toFront0)(env(), nullptr);
    EXPECT_EQ(GetForegroundWindow(), own);
    DestroyWindow(own);
}

}  // namespace
