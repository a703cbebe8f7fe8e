// Natives of the Java class Registry: keys and values of the five value types
// in either registry view, hive files, and the association change notice.
//
// Each native converts its arguments, calls the Windows layer of
// registry_win.cpp and converts the result.  Failure is a false or null
// result, never a Java exception: a class the natives look up and do not find
// leaves no exception pending.  The value object of setValue0 is checked
// against its type code before it is read, so a wrong or null object is
// refused instead of being read as something it is not.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "natives/native_bridge.h"
#include "natives/registry_win.h"

namespace {

using namespace registry;

const char kExpandStringClass[] = "com/tovrix/api/windows/WinRegistry$ExpandString";

// The root of a Java root code, or null for a code outside 1 to 5 (checked
// before any string argument is converted).
HKEY rootOf(jint code) {
    const std::optional<Root> root = rootForCode(code);
    return root ? rootKey(*root) : nullptr;
}

REGSAM viewOf(jint view) { return static_cast<REGSAM>(view); }

// FindClass without a pending NoClassDefFoundError when the class is missing.
jclass findClass(JNIEnv* env, const char* name) {
    jclass found = env->FindClass(name);
    if (!found) env->ExceptionClear();
    return found;
}

jmethodID findMethod(JNIEnv* env, jclass owner, const char* name, const char* signature) {
    jmethodID method = env->GetMethodID(owner, name, signature);
    if (!method) env->ExceptionClear();
    return method;
}

// value is a non-null instance of the named class.
bool isInstance(JNIEnv* env, jobject value, const char* className) {
    if (!value) return false;
    jclass type = findClass(env, className);
    return type && env->IsInstanceOf(value, type);
}

std::u16string_view utf16(const JavaString& string) {
    return {reinterpret_cast<const char16_t*>(string.text().data()), string.text().size()};
}

jstring newJavaString(JNIEnv* env, const std::u16string& text) {
    return env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
}

jobjectArray newJavaStringArray(JNIEnv* env, const std::vector<jstring>& strings) {
    jclass stringClass = findClass(env, "java/lang/String");
    if (!stringClass) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(strings.size()), stringClass, nullptr);
    if (!array) return nullptr;
    for (std::size_t i = 0; i < strings.size(); ++i) {
        env->SetObjectArrayElement(array, static_cast<jsize>(i), strings[i]);
        env->DeleteLocalRef(strings[i]);
    }
    return array;
}

jobject newInteger(JNIEnv* env, std::int32_t value) {
    jclass integerClass = findClass(env, "java/lang/Integer");
    if (!integerClass) return nullptr;
    jmethodID constructor = findMethod(env, integerClass, "<init>", "(I)V");
    return constructor ? env->NewObject(integerClass, constructor, static_cast<jint>(value)) : nullptr;
}

jobject newExpandString(JNIEnv* env, const std::u16string& text) {
    jclass expandClass = findClass(env, kExpandStringClass);
    if (!expandClass) return nullptr;
    jmethodID constructor = findMethod(env, expandClass, "<init>", "(Ljava/lang/String;)V");
    if (!constructor) return nullptr;
    jstring string = newJavaString(env, text);
    return string ? env->NewObject(expandClass, constructor, string) : nullptr;
}

jobject newStringList(JNIEnv* env, const std::vector<std::u16string>& elements) {
    std::vector<jstring> strings;
    for (const std::u16string& element : elements) {
        jstring string = newJavaString(env, element);
        if (!string) return nullptr;
        strings.push_back(string);
    }
    return newJavaStringArray(env, strings);
}

// The Java object of a value read from the registry, by its registry type.
jobject javaValue(JNIEnv* env, const Value& value) {
    const unsigned char* data = value.data.data();
    const std::size_t size = value.data.size();
    switch (value.type) {
    case REG_SZ:
        return newJavaString(env, decodeString(data, size));
    case REG_EXPAND_SZ:
        return newExpandString(env, decodeString(data, size));
    case REG_BINARY: {
        jbyteArray bytes = env->NewByteArray(static_cast<jsize>(size));
        if (bytes) env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(size), reinterpret_cast<const jbyte*>(data));
        return bytes;
    }
    case REG_DWORD: {
        const std::optional<std::int32_t> number = decodeDword(data, size);
        return number ? newInteger(env, *number) : nullptr;
    }
    case REG_MULTI_SZ:
        return newStringList(env, decodeMultiString(data, size));
    default:
        return nullptr;
    }
}

std::optional<Bytes> encodeStringList(JNIEnv* env, jobjectArray array) {
    MultiStringBuilder builder;
    const jsize length = env->GetArrayLength(array);
    for (jsize i = 0; i < length; ++i) {
        auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
        if (!element) return std::nullopt;
        const JavaString text(env, element);
        env->DeleteLocalRef(element);
        if (!builder.add(utf16(text)))
            return std::nullopt;
    }
    return builder.finish();
}

// The data setValue0 writes for a value object of the given registry type;
// none when the object is not of the Java type that the type code takes.
std::optional<Bytes> encodeJavaValue(JNIEnv* env, jobject value, std::uint32_t type) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        if (!isInstance(env, value, "java/lang/String")) return std::nullopt;
        const JavaString text(env, static_cast<jstring>(value));
        if (text.isNull()) return std::nullopt;
        return encodeString(utf16(text));
    }
    case REG_DWORD: {
        jclass integerClass = findClass(env, "java/lang/Integer");
        if (!value || !integerClass || !env->IsInstanceOf(value, integerClass)) return std::nullopt;
        jmethodID intValue = findMethod(env, integerClass, "intValue", "()I");
        if (!intValue) return std::nullopt;
        return encodeDword(env->CallIntMethod(value, intValue));
    }
    case REG_MULTI_SZ:
        if (!isInstance(env, value, "[Ljava/lang/String;")) return std::nullopt;
        return encodeStringList(env, static_cast<jobjectArray>(value));
    case REG_BINARY: {
        if (!isInstance(env, value, "[B")) return std::nullopt;
        auto array = static_cast<jbyteArray>(value);
        const auto length = static_cast<std::size_t>(env->GetArrayLength(array));
        Bytes data(std::min(length, kValueBufferBytes));
        env->GetByteArrayRegion(array, 0, static_cast<jsize>(data.size()), reinterpret_cast<jbyte*>(data.data()));
        return data;
    }
    default:
        return std::nullopt;
    }
}

jobjectArray namesArray(JNIEnv* env, const std::optional<std::vector<std::wstring>>& names) {
    if (!names) return nullptr;
    std::vector<jstring> strings;
    for (const std::wstring& name : *names) {
        jstring string = env->NewString(reinterpret_cast<const jchar*>(name.data()), static_cast<jsize>(name.size()));
        if (string) strings.push_back(string);
    }
    return newJavaStringArray(env, strings);
}

jboolean toJava(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

// The names of a key's sub-keys or values as a String[]; null when the root
// code is unknown, the key cannot be opened or the enumeration fails.
// The key a native names by root code, sub-key and view; false when the root
// code is unknown (the native then returns its failure value).
class NamedKey {
public:
    NamedKey(JNIEnv* env, jint root, jstring subKey, jint view)
        : root_(rootOf(root)), path_(env, subKey), view_(viewOf(view)) {}
    explicit operator bool() const { return root_ != nullptr; }
    KeyLocation location() const { return {root_, path_.get(), view_}; }
    UniqueRegKey open(Access access) const { return openKey(location(), access); }

private:
    HKEY root_;
    JavaString path_;
    REGSAM view_;
};

jobjectArray enumerateNames(JNIEnv* env, jint root, jstring subKey, jint view,
                            std::optional<std::vector<std::wstring>> (*names)(HKEY)) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return nullptr;
    UniqueRegKey key = named.open(Access::read);
    if (!key) return nullptr;
    const auto found = names(key.get());
    key.reset();
    return namesArray(env, found);
}

}  // namespace

extern "C" {

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_keyExists0(JNIEnv* env, jclass, jint root,
                                                                                      jstring subKey, jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    return toJava(named.open(Access::read).valid());
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_createKey0(JNIEnv* env, jclass, jint root,
                                                                                      jstring subKey, jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    return toJava(named.open(Access::create).valid());
}

jobject JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_getValue0(JNIEnv* env, jclass, jint root,
                                                                                   jstring subKey, jstring valueName,
                                                                                   jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return nullptr;
    const JavaString name(env, valueName);
    UniqueRegKey key = named.open(Access::read);
    if (!key) return nullptr;
    const std::optional<Value> value = queryValue(key.get(), name.get());
    return value ? javaValue(env, *value) : nullptr;
}

// The value is encoded before the key is created, so a refused value leaves
// no new key behind.
jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_setValue0(JNIEnv* env, jclass, jint root,
                                                                                    jstring subKey, jstring valueName,
                                                                                    jobject value, jint typeCode,
                                                                                    jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    const JavaString name(env, valueName);
    const std::optional<std::uint32_t> type = typeForCode(typeCode);
    if (!type) return JNI_FALSE;
    const std::optional<Bytes> data = encodeJavaValue(env, value, *type);
    if (!data) return JNI_FALSE;
    UniqueRegKey key = named.open(Access::create);
    if (!key) return JNI_FALSE;
    const LSTATUS status = RegSetValueExW(key.get(), name.get(), 0, *type, data->data(), static_cast<DWORD>(data->size()));
    if (status != ERROR_SUCCESS) {
        std::printf("no success %d\n", static_cast<int>(status));
        std::fflush(stdout);
        return JNI_FALSE;
    }
    return JNI_TRUE;
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_deleteValue0(JNIEnv* env, jclass, jint root,
                                                                                   jstring subKey, jstring valueName,
                                                                                   jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return;
    const JavaString name(env, valueName);
    UniqueRegKey key = named.open(Access::readWrite);
    if (key) RegDeleteValueW(key.get(), name.get());
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_deleteKey0(JNIEnv* env, jclass, jint root,
                                                                                 jstring subKey, jboolean onlyIfEmpty,
                                                                                 jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return;
    const KeyLocation at = named.location();
    if (onlyIfEmpty)
        deleteKeyIfEmpty(at, findDeleteKeyEx());
    else
        deleteKeyTree(at, findDeleteKeyEx());
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_saveKey0(JNIEnv* env, jclass, jint root,
                                                                                   jstring subKey, jstring file,
                                                                                   jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    const JavaString filePath(env, file);
    return toJava(saveKey(named.location(), filePath.get()));
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_restoreKey0(JNIEnv* env, jclass, jint root,
                                                                                      jstring subKey, jstring file,
                                                                                      jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    const JavaString filePath(env, file);
    return toJava(restoreKey(named.location(), filePath.get()));
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_enumSubKeys0(JNIEnv* env, jclass,
                                                                                           jint root, jstring subKey,
                                                                                           jint view) {
    return enumerateNames(env, root, subKey, view, &subKeyNames);
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_enumValues0(JNIEnv* env, jclass,
                                                                                          jint root, jstring subKey,
                                                                                          jint view) {
    return enumerateNames(env, root, subKey, view, &valueNames);
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_changeNotifyAssociations0(JNIEnv*, jclass) {
    notifyAssociationsChanged();
}

}  // extern "C"
