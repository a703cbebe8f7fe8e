// The natives of Win32Handle through the JNI test double, under Wine: a file
// this test holds open is listed and closed, the handle table is filtered by
// access and type (through a fake table of real handles), a drive's link is
// resolved and compared with QueryDosDeviceW, and each failure value, with
// the ntdll functions made missing or failing through the call table.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/handle_table.h"
#include "natives/native_prototypes.h"
#include "tests/jni_double/jni_double.h"
#include "tests/unit/process_test_support.h"

#define HANDLE_NATIVE(name) NATIVE_FUNCTION(Win32Handle, name)

namespace {

using namespace process_tests;

class HandleNatives : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = tempFile(L"held \u4e2d.txt");
        // Held for reading, with write sharing (read-write handles are never listed).
        file_.reset(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file_.valid());
    }
    void TearDown() override {
        file_.reset();
        DeleteFileW(path_.c_str());
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
    }
    JNIEnv* env() { return e_.env(); }

    struct Listed {
        std::vector<jint> handles;
        std::vector<std::wstring> names;
    };
    // The two arrays of a list0 result.
    Listed read(jobjectArray list) {
        Listed out;
        const auto parts = e_.arrayElements(list);
        EXPECT_EQ(parts.size(), 2u);
        if (parts.size() != 2) return out;
        out.handles = e_.intArrayValue(static_cast<jintArray>(parts[0]));
        out.names = e_.stringArrayValue(static_cast<jobjectArray>(parts[1]));
        EXPECT_EQ(out.handles.size(), out.names.size());
        return out;
    }
    // The name list0 gives the held file, "" when it is not listed.
    static std::wstring nameOf(const Listed& listed, HANDLE handle) {
        for (std::size_t i = 0; i < listed.handles.size(); ++i)
            if (listed.handles[i] == static_cast<jint>(reinterpret_cast<INT_PTR>(handle))) return listed.names[i];
        return L"";
    }
    // The held file's path after its drive ("\\users\\...\\held.txt"): the
    // object name begins with a device instead of "C:".
    std::wstring pathBelowDrive() const { return path_.substr(2); }
    static bool endsWith(const std::wstring& text, const std::wstring& tail) {
        return text.size() >= tail.size() &&
               CompareStringOrdinal(text.c_str() + text.size() - tail.size(), -1, tail.c_str(), -1, TRUE) == CSTR_EQUAL;
    }

    jni_double::Environment e_;
    std::wstring path_;
    UniqueFile file_;
};

TEST_F(HandleNatives, AHeldFileIsListedAndClosed) {
    UniqueFile readWrite(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(readWrite.valid());
    const jobjectArray list = HANDLE_NATIVE(list0)(env(), nullptr);
    if (!list) GTEST_SKIP() << "this Wine does not give the system handle table (NtQuerySystemInformation class 16)";
    const Listed listed = read(list);
    const std::wstring name = nameOf(listed, file_.get());
    if (name.empty() && listed.names.empty())
        GTEST_SKIP() << "this Wine names no file handle (NtQueryObject ObjectNameInformation)";
    EXPECT_TRUE(endsWith(name, pathBelowDrive())) << narrow(name);
    EXPECT_EQ(nameOf(listed, readWrite.get()), L"") << "a read-write file is granted 0x0012019F: not listed";
    for (const std::wstring& other : listed.names) EXPECT_FALSE(other.empty());

    readWrite.reset();
    const HANDLE held = file_.release();
    EXPECT_TRUE(HANDLE_NATIVE(close0)(env(), nullptr, static_cast<jint>(reinterpret_cast<INT_PTR>(held))));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(held, &flags)) << "the handle is closed";
    EXPECT_EQ(nameOf(read(HANDLE_NATIVE(list0)(env(), nullptr)), held), L"");
    // Closed, the file is free to be opened without sharing.
    UniqueFile exclusive(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(exclusive.valid());
}

TEST_F(HandleNatives, CloseRefusesWhatIsNoHandleOfTheProcess) {
    for (jint value : {-1, -2, 0, 0x7FF0}) EXPECT_FALSE(HANDLE_NATIVE(close0)(env(), nullptr, value)) << value;
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(GetCurrentProcess(), &flags) || GetLastError() != ERROR_INVALID_HANDLE);
    ScopedCalls scope;
    overrideLookups(scope, {{"NtDuplicateObject"}, {}});
    EXPECT_FALSE(HANDLE_NATIVE(close0)(env(), nullptr, static_cast<jint>(reinterpret_cast<INT_PTR>(file_.get()))));
    EXPECT_TRUE(GetHandleInformation(file_.get(), &flags)) << "left open";
}

// ---- A fake system handle table of this process's real handles

std::vector<unsigned char> fakeTable;
LONG fakeStatus = 0;
int fakeCalls = 0;

void putBytes(std::vector<unsigned char>& out, std::size_t at, unsigned long long value, std::size_t bytes) {
    if (out.size() < at + bytes) out.resize(at + bytes);
    for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void buildFakeTable(std::uint32_t count, const std::vector<std::pair<HANDLE, std::uint32_t>>& entries) {
    const std::size_t width = sizeof(void*);
    const std::size_t header = handles::tableHeaderBytes(width), size = handles::tableEntryBytes(width);
    fakeTable.assign(header + entries.size() * size, 0);
    putBytes(fakeTable, 0, count, 4);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = header + i * size;
        putBytes(fakeTable, at, GetCurrentProcessId(), 4);
        putBytes(fakeTable, at + 6, reinterpret_cast<ULONG_PTR>(entries[i].first), 2);
        putBytes(fakeTable, at + 8 + width, entries[i].second, 4);
    }
}

LONG NTAPI fakeQuerySystem(ULONG, PVOID buffer, ULONG size, PULONG returned) {
    ++fakeCalls;
    if (fakeStatus != 0) return fakeStatus;
    if (size < fakeTable.size()) return static_cast<LONG>(0xC0000004);
    std::copy(fakeTable.begin(), fakeTable.end(), static_cast<unsigned char*>(buffer));
    if (returned) *returned = static_cast<ULONG>(fakeTable.size());
    return 0;
}

TEST_F(HandleNatives, TheTableIsFilteredByAccessAndType) {
    if (!HANDLE_NATIVE(list0)(env(), nullptr)) GTEST_SKIP() << "this Wine does not give the system handle table";
    UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, L"tovrix-unit-handle-event"));
    ASSERT_TRUE(event.valid());
    UniqueFile second(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(second.valid());
    // The held file listed once with an ordinary mask and once with the
    // excluded one, a named event (not a file), a second handle of the file,
    // and a count far beyond the entries returned.
    buildFakeTable(
        1000000,
        {{file_.get(), 0x0012019F}, {event.get(), 0x001F0003}, {second.get(), 0x00120089}, {file_.get(), 0x0012019B}});
    ScopedCalls scope;
    overrideLookups(scope, {{}, {{"NtQuerySystemInformation", asProc(fakeQuerySystem)}}});
    fakeStatus = 0;
    const Listed listed = read(HANDLE_NATIVE(list0)(env(), nullptr));
    if (listed.names.empty()) GTEST_SKIP() << "this Wine names no file handle (NtQueryObject ObjectNameInformation)";
    const auto value = [](HANDLE h) { return static_cast<jint>(reinterpret_cast<INT_PTR>(h)); };
    EXPECT_EQ(listed.handles, (std::vector<jint>{value(second.get()), value(file_.get())}));
    ASSERT_EQ(listed.names.size(), 2u);
    EXPECT_TRUE(endsWith(listed.names[0], pathBelowDrive()) && endsWith(listed.names[1], pathBelowDrive()));
}

TEST_F(HandleNatives, ListFailureValues) {
    struct Case {
        const char* what;
        std::vector<std::string> missing;
        LONG status;
        std::string printed;
        int calls;  // of the fake, -1 when it is not used
    };
    const std::vector<Case> cases = {
        {"NtQuerySystemInformation missing", {"NtQuerySystemInformation"}, 0, "", -1},
        {"NtDuplicateObject missing", {"NtDuplicateObject"}, 0, "", -1},
        {"NtQueryObject missing", {"NtQueryObject"}, 0, "", -1},
        {"the table cannot be read", {}, static_cast<LONG>(0xC0000022), "NtQuerySystemInformation failed!\n", 1},
        // A table that never fits: the buffer stops growing at its limit.
        {"the table never fits", {}, static_cast<LONG>(0xC0000004), "NtQuerySystemInformation failed!\n", 12},
    };
    for (const Case& c : cases) {
        ScopedCalls scope;
        LookupOverrides overrides{c.missing, {}};
        if (c.calls >= 0) overrides.fakes["NtQuerySystemInformation"] = asProc(fakeQuerySystem);
        overrideLookups(scope, overrides);
        fakeStatus = c.status;
        fakeCalls = 0;
        OutputCapture out;
        EXPECT_EQ(HANDLE_NATIVE(list0)(env(), nullptr), nullptr) << c.what;
        EXPECT_EQ(out.text(), c.printed) << c.what;
        if (c.calls >= 0) {
            EXPECT_EQ(fakeCalls, c.calls) << c.what;
        }
    }
}

// ---- getDeviceName0

std::wstring dosDevice(const wchar_t* name) {
    std::vector<wchar_t> targets(65536, L'\0');
    if (!QueryDosDeviceW(name, targets.data(), static_cast<DWORD>(targets.size()))) return L"";
    return targets.data();
}

TEST_F(HandleNatives, DeviceNameIsTheLinksTarget) {
    const std::wstring expected = dosDevice(L"C:");
    ASSERT_FALSE(expected.empty());
    const jstring target = HANDLE_NATIVE(getDeviceName0)(env(), nullptr, e_.newString(L"\\??\\C:"));
    if (!target) GTEST_SKIP() << "this Wine cannot open the link \\??\\C: (NtOpenSymbolicLinkObject)";
    EXPECT_EQ(e_.stringValue(target), expected);
}

LONG linkLengthStatus = 0;
ULONG linkReported = 0;

// The first query (no buffer) answers as the test says; a query with a
// buffer fails.
LONG NTAPI fakeQueryLink(HANDLE, PUNICODE_STRING target, PULONG reported) {
    if (target->MaximumLength == 0) {
        if (reported) *reported = linkReported;
        return linkLengthStatus;
    }
    return static_cast<LONG>(0xC0000022);
}

TEST_F(HandleNatives, DeviceNameFailureValues) {
    struct Case {
        const char* what;
        const wchar_t* name;  // null: a null string
        std::string printedStart;
    };
    const std::vector<Case> cases = {
        {"null", nullptr, ""},
        {"a relative name", L"C:", "could not open link C: "},
        {"a missing link", L"\\??\\tovrix-no-such-link", "could not open link \\??\\tovrix-no-such-link "},
        {"a name too long for a counted string", nullptr, "could not open link "},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::wstring tooLong = L"\\??\\" + std::wstring(40000, L'x');
        const jstring name = i == 3 ? e_.newString(tooLong) : c.name ? e_.newString(c.name) : nullptr;
        OutputCapture out;
        EXPECT_EQ(HANDLE_NATIVE(getDeviceName0)(env(), nullptr, name), nullptr) << c.what;
        const std::string printed = out.text();
        EXPECT_EQ(printed.substr(0, c.printedStart.size()), c.printedStart) << c.what;
        EXPECT_EQ(printed.empty(), c.printedStart.empty()) << c.what << ": " << printed;
    }
    // Queries of the link's target that fail, through a fake of the query.
    struct QueryCase {
        const char* what;
        LONG lengthStatus;  // the first query's answer
        ULONG reported;
        std::string printed;
    };
    const std::vector<QueryCase> queries = {
        {"the length query fails", static_cast<LONG>(0xC0000022), 0, "could not query link length \\??\\C:\n"},
        {"a length that leaves no room for the NUL", static_cast<LONG>(0xC0000023), 0xFFFF,
         "could not query link length \\??\\C:\n"},
        {"the target query fails", static_cast<LONG>(0xC0000023), 40, "could not query link \\??\\C:\n"},
    };
    for (const QueryCase& c : queries) {
        linkLengthStatus = c.lengthStatus;
        linkReported = c.reported;
        ScopedCalls scope;
        overrideLookups(scope, {{}, {{"NtQuerySymbolicLinkObject", asProc(fakeQueryLink)}}});
        OutputCapture out;
        EXPECT_EQ(HANDLE_NATIVE(getDeviceName0)(env(), nullptr, e_.newString(L"\\??\\C:")), nullptr) << c.what;
        EXPECT_EQ(out.text(), c.printed) << c.what;
    }
    for (const char* missing : {"NtOpenSymbolicLinkObject", "NtQuerySymbolicLinkObject"}) {
        ScopedCalls scope;
        overrideLookups(scope, {{missing}, {}});
        OutputCapture out;
        EXPECT_EQ(HANDLE_NATIVE(getDeviceName0)(env(), nullptr, e_.newString(L"\\??\\C:")), nullptr) << missing;
        EXPECT_EQ(out.text(), "did not find functions\n") << missing;
    }
}

}  // namespace
