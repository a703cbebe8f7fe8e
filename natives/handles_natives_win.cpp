// Natives of the Java class Win32Handle: the file handles this process holds
// open, closing one of them, and the target of an object-manager symbolic
// link, through the native functions of ntdll.dll looked up at run time.
//
// The handle table and the object manager's answers are read by
// natives/handle_table.h within the bytes that were returned, laid out by
// this build's pointer width; the table's buffer grows to a limit, never
// without end.  Every duplicate and link handle is owned and closed.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"
#include "natives/handle_table.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

namespace {

using jni::JavaString;
using jni::LocalRef;

using NtQuerySystemInformationFn = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
using NtDuplicateObjectFn = LONG(NTAPI*)(HANDLE, HANDLE, HANDLE, PHANDLE, ACCESS_MASK, ULONG, ULONG);
using NtQueryObjectFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtOpenSymbolicLinkObjectFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
using NtQuerySymbolicLinkObjectFn = LONG(NTAPI*)(HANDLE, PUNICODE_STRING, PULONG);

constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kObjectTypeInformation = 2;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr LONG kStatusNameTooLong = static_cast<LONG>(0xC0000106);
// The object manager answers a type or name query in this many bytes first.
constexpr std::size_t kObjectAnswerBytes = 4096;

HMODULE ntdll() { return GetModuleHandleA("ntdll.dll"); }

HANDLE handleOf(std::uint32_t value) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)); }

// One object query's answer as a counted string (the type name or the
// object name lead their answers), or none.
std::optional<std::u16string> queryObjectText(NtQueryObjectFn queryObject, HANDLE object, ULONG kind, bool growOnce) {
    std::vector<unsigned char> answer(kObjectAnswerBytes);
    ULONG reported = 0;
    LONG status = queryObject(object, kind, answer.data(), static_cast<ULONG>(answer.size()), &reported);
    if (status < 0 && growOnce && reported > answer.size() && reported <= handles::kNameAnswerLimitBytes) {
        answer.assign(reported, 0);
        status = queryObject(object, kind, answer.data(), static_cast<ULONG>(answer.size()), &reported);
    }
    if (status < 0) return std::nullopt;
    return handles::readCountedString(answer.data(), answer.size(), reinterpret_cast<std::uintptr_t>(answer.data()),
                                      sizeof(void*));
}

struct ListedHandle {
    jint handle;
    std::u16string name;
};

// The system handle table, or none (with the diagnostic line) when it cannot
// be read within the buffer limit.
std::optional<std::vector<handles::HandleEntry>> readHandleTable(NtQuerySystemInformationFn querySystem) {
    std::vector<unsigned char> table(handles::kFirstTableBytes);
    ULONG returned = 0;
    LONG status = kStatusInfoLengthMismatch;
    while (true) {
        returned = 0;
        status = querySystem(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &returned);
        if (status != kStatusInfoLengthMismatch) break;
        const std::optional<std::size_t> larger = handles::nextTableBytes(table.size());
        if (!larger) break;
        table.assign(*larger, 0);
    }
    if (status < 0) {
        printDiagnostic("NtQuerySystemInformation failed!\n");
        return std::nullopt;
    }
    const std::size_t valid = returned > 0 && returned <= table.size() ? returned : table.size();
    return handles::parseHandleTable(table.data(), valid, sizeof(void*));
}

jintArray newIntArray(JNIEnv* env, const std::vector<jint>& values) {
    jintArray array = env->NewIntArray(static_cast<jsize>(values.size()));
    if (array && !values.empty()) env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
    return array;
}

// The two-element Object[] {int[] handles, String[] names}; null when a part
// cannot be made.
jobjectArray handleList(JNIEnv* env, const std::vector<ListedHandle>& listed) {
    std::vector<jint> values;
    std::vector<std::u16string> names;
    for (const ListedHandle& entry : listed) {
        values.push_back(entry.handle);
        names.push_back(entry.name);
    }
    const LocalRef<jintArray> handleArray(env, newIntArray(env, values));
    if (!handleArray) return nullptr;
    const LocalRef<jobjectArray> nameArray(env, jni::newStringArray(env, names));
    if (!nameArray) return nullptr;
    const LocalRef<jclass> objectClass(env, jni::findClass(env, "java/lang/Object"));
    if (!objectClass) return nullptr;
    jobjectArray pair = env->NewObjectArray(2, objectClass.get(), nullptr);
    if (!pair) return nullptr;
    env->SetObjectArrayElement(pair, 0, handleArray.get());
    env->SetObjectArrayElement(pair, 1, nameArray.get());
    return pair;
}

}  // namespace

extern "C" {

// The files this process holds open: Object[] {int[] handle values, String[]
// object names}, in table order.  Handles with the access mask 0x0012019F
// and objects that are not files are not listed.  Null when a function of
// ntdll.dll is missing or the handle table cannot be read.
jobjectArray JNICALL NATIVE_FUNCTION(Win32Handle, list0)(JNIEnv* env, jclass) {
    const auto querySystem = system_calls::function<NtQuerySystemInformationFn>(ntdll(), "NtQuerySystemInformation");
    const auto duplicate = system_calls::function<NtDuplicateObjectFn>(ntdll(), "NtDuplicateObject");
    const auto queryObject = system_calls::function<NtQueryObjectFn>(ntdll(), "NtQueryObject");
    if (!querySystem || !duplicate || !queryObject) return nullptr;
    const std::optional<std::vector<handles::HandleEntry>> table = readHandleTable(querySystem);
    if (!table) return nullptr;
    const DWORD self = GetCurrentProcessId();
    std::vector<ListedHandle> listed;
    for (const handles::HandleEntry& entry : *table) {
        if (entry.pid != self) continue;
        UniqueKernelHandle copy;
        if (duplicate(GetCurrentProcess(), handleOf(entry.handle), GetCurrentProcess(), copy.put(), 0, 0, 0) < 0)
            continue;
        const std::optional<std::u16string> typeName =
            queryObjectText(queryObject, copy.get(), kObjectTypeInformation, false);
        if (!typeName || entry.grantedAccess == handles::kUnqueriedAccess) continue;
        // Only files are listed, so no other object's name is asked for.
        if (!handles::isFileType(*typeName)) continue;
        const std::optional<std::u16string> name =
            queryObjectText(queryObject, copy.get(), kObjectNameInformation, true);
        if (name && handles::isListedHandle(*typeName, *name)) listed.push_back({entry.handle, *name});
    }
    std::fflush(stdout);
    return handleList(env, listed);
}

// Closes a handle of this process (the duplication that closes its source);
// false when that fails, ntdll.dll lacks the function, or the value is
// negative (a pseudo handle such as the current process, which no duplication
// closes).
jboolean JNICALL NATIVE_FUNCTION(Win32Handle, close0)(JNIEnv*, jclass, jint handle) {
    if (handle < 0) return JNI_FALSE;
    const auto duplicate = system_calls::function<NtDuplicateObjectFn>(ntdll(), "NtDuplicateObject");
    if (!duplicate) return JNI_FALSE;
    UniqueKernelHandle copy;
    const LONG status = duplicate(GetCurrentProcess(), handleOf(static_cast<std::uint32_t>(handle)),
                                  GetCurrentProcess(), copy.put(), 0, 0, DUPLICATE_CLOSE_SOURCE);
    return jni::toJava(status >= 0);
}

// The target of a symbolic link of the object manager's name space (for
// example "\??\C:"), or null.  A name too long for a counted string is
// refused like a link that cannot be opened.
jstring JNICALL NATIVE_FUNCTION(Win32Handle, getDeviceName0)(JNIEnv* env, jclass, jstring linkName) {
    const auto openLink = system_calls::function<NtOpenSymbolicLinkObjectFn>(ntdll(), "NtOpenSymbolicLinkObject");
    const auto queryLink = system_calls::function<NtQuerySymbolicLinkObjectFn>(ntdll(), "NtQuerySymbolicLinkObject");
    if (!openLink || !queryLink) {
        printDiagnostic("did not find functions\n");
        return nullptr;
    }
    const JavaString name(env, linkName);
    if (name.isNull()) return nullptr;
    const std::optional<std::uint16_t> nameBytes = handles::countedBytes(name.text().size());
    UNICODE_STRING counted = {};
    counted.Length = nameBytes.value_or(0);
    counted.MaximumLength = nameBytes.value_or(0);
    counted.Buffer = const_cast<PWSTR>(name.get());
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &counted;
    UniqueKernelHandle link;
    const LONG opened = nameBytes ? openLink(link.put(), GENERIC_READ, &attributes) : kStatusNameTooLong;
    if (opened < 0) {
        printDiagnostic("could not open link %S %p\n", name.get(),
                        reinterpret_cast<void*>(static_cast<INT_PTR>(opened)));
        return nullptr;
    }
    UNICODE_STRING target = {};
    ULONG reported = 0;
    const std::optional<std::uint16_t> targetBytes = queryLink(link.get(), &target, &reported) == kStatusBufferTooSmall
                                                         ? handles::linkTargetBufferBytes(reported)
                                                         : std::nullopt;
    if (!targetBytes) {
        printDiagnostic("could not query link length %S\n", name.get());
        return nullptr;
    }
    std::vector<wchar_t> chars(*targetBytes / sizeof(wchar_t) + 1, L'\0');
    target.Buffer = chars.data();
    target.Length = 0;
    target.MaximumLength = *targetBytes;
    if (queryLink(link.get(), &target, &reported) < 0) {
        printDiagnostic("could not query link %S\n", name.get());
        return nullptr;
    }
    const std::size_t length = (target.Length <= target.MaximumLength ? target.Length : target.MaximumLength) / 2;
    return jni::newString(env, std::wstring_view(chars.data(), length));
}

}  // extern "C"
