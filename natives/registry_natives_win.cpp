// Natives of the Java class Registry: keys and values of the five value types
// in either registry view, hive files, and the association change notice.
//
// Each native converts its arguments, calls the registry layer
// (launcher/registry_win.h) and converts the result; what is particular to
// the Java side (root, type and view codes, the 100,000-byte value buffer and
// the value encodings) is in registry_data.h.  Failure is a false or null
// result, never a Java exception: a class the natives look up and do not find
// leaves no exception pending.  The value object of setValue0 is checked
// against its type code before it is read, so a wrong or null object is
// refused instead of being read as something it is not.
#include <shlobj.h>

#include <optional>

#include "launcher/registry_win.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"
#include "natives/registry_data.h"

namespace {

using namespace registry;
using jni::JavaString;
using jni::LocalRef;
using jni::toJava;

static_assert(kTypeString == REG_SZ && kTypeExpandString == REG_EXPAND_SZ && kTypeBinary == REG_BINARY &&
                  kTypeDword == REG_DWORD && kTypeMultiString == REG_MULTI_SZ,
              "registry type numbers");

const char kExpandStringClass[] = "com/tovrix/api/windows/WinRegistry$ExpandString";
const char kIntegerClass[] = "java/lang/Integer";

// The root of a Java root code, or null for a code outside 1 to 5 (checked
// before any string argument is converted).
HKEY rootOf(jint code) {
    const std::optional<Root> root = rootForCode(code);
    if (!root) return nullptr;
    switch (*root) {
        case Root::classesRoot: return HKEY_CLASSES_ROOT;
        case Root::currentUser: return HKEY_CURRENT_USER;
        case Root::localMachine: return HKEY_LOCAL_MACHINE;
        case Root::users: return HKEY_USERS;
        case Root::currentConfig: return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

jobject newExpandString(JNIEnv* env, const std::u16string& text) {
    const jni::Constructor expandString(env, kExpandStringClass, "(Ljava/lang/String;)V");
    if (!expandString) return nullptr;
    const LocalRef<jstring> string(env, jni::newString(env, text));
    return string ? expandString.newObject(string.get()) : nullptr;
}

// The Java object of a value read from the registry, by its registry type.
jobject javaValue(JNIEnv* env, const Value& value) {
    const unsigned char* data = value.data.data();
    const std::size_t size = value.data.size();
    switch (value.type) {
        case REG_SZ: return jni::newString(env, decodeString(data, size));
        case REG_EXPAND_SZ: return newExpandString(env, decodeString(data, size));
        case REG_BINARY: return jni::newByteArray(env, data, size);
        case REG_DWORD: {
            const std::optional<std::int32_t> number = decodeDword(data, size);
            return number ? jni::newObject(env, kIntegerClass, "(I)V", static_cast<jint>(*number)) : nullptr;
        }
        case REG_MULTI_SZ: return jni::newStringArray(env, decodeMultiString(data, size));
        default: return nullptr;
    }
}

std::optional<Bytes> encodeStringList(JNIEnv* env, jobjectArray array) {
    const std::optional<std::vector<JavaString>> elements = jni::readStringArray(env, array);
    if (!elements) return std::nullopt;
    MultiStringBuilder builder;
    for (const JavaString& element : *elements)
        if (element.isNull() || !builder.add(element.utf16())) return std::nullopt;
    return builder.finish();
}

std::optional<std::int32_t> integerValue(JNIEnv* env, jobject value) {
    const LocalRef<jclass> integerClass(env, jni::findClass(env, kIntegerClass));
    if (!value || !integerClass || !env->IsInstanceOf(value, integerClass.get())) return std::nullopt;
    jmethodID intValue = jni::findMethod(env, integerClass.get(), "intValue", "()I");
    if (!intValue) return std::nullopt;
    return env->CallIntMethod(value, intValue);
}

// The data setValue0 writes for a value object of the given registry type;
// none when the object is not of the Java type that the type code takes.
std::optional<Bytes> encodeJavaValue(JNIEnv* env, jobject value, std::uint32_t type) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            if (!jni::isInstanceOf(env, value, "java/lang/String")) return std::nullopt;
            const JavaString text(env, static_cast<jstring>(value));
            if (text.isNull()) return std::nullopt;
            return encodeString(text.utf16());
        }
        case REG_DWORD: {
            const std::optional<std::int32_t> number = integerValue(env, value);
            if (!number) return std::nullopt;
            return encodeDword(*number);
        }
        case REG_MULTI_SZ:
            if (!jni::isInstanceOf(env, value, "[Ljava/lang/String;")) return std::nullopt;
            return encodeStringList(env, static_cast<jobjectArray>(value));
        case REG_BINARY:
            if (!jni::isInstanceOf(env, value, "[B")) return std::nullopt;
            return jni::readByteArray(env, static_cast<jbyteArray>(value), kValueBufferBytes);
        default: return std::nullopt;
    }
}

// The key a native names by root code, sub-key and view; false when the root
// code is unknown (the native then returns its failure value).
class NamedKey {
public:
    NamedKey(JNIEnv* env, jint root, jstring subKey, jint view)
        : root_(rootOf(root)), path_(env, subKey), view_(static_cast<REGSAM>(view)) {}
    explicit operator bool() const { return root_ != nullptr; }
    KeyLocation location() const { return {root_, path_.get(), view_}; }
    UniqueRegKey open(Access access) const { return openKey(location(), access); }

private:
    HKEY root_;
    JavaString path_;
    REGSAM view_;
};

// The names of a key's sub-keys or values as a String[]; null when the root
// code is unknown, the key cannot be opened or the enumeration fails.  A name
// that cannot be made into a String is left out.
jobjectArray enumerateNames(JNIEnv* env, jint root, jstring subKey, jint view,
                            std::optional<std::vector<std::wstring>> (*names)(HKEY)) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return nullptr;
    UniqueRegKey key = named.open(Access::read);
    if (!key) return nullptr;
    const auto found = names(key.get());
    key.reset();
    return found ? jni::newStringArray(env, *found, jni::MissingElement::leaveOut) : nullptr;
}

}  // namespace

extern "C" {

jboolean JNICALL NATIVE_FUNCTION(Registry, keyExists0)(JNIEnv* env, jclass, jint root, jstring subKey, jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    return toJava(named.open(Access::read).valid());
}

jboolean JNICALL NATIVE_FUNCTION(Registry, createKey0)(JNIEnv* env, jclass, jint root, jstring subKey, jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    return toJava(named.open(Access::create).valid());
}

jobject JNICALL NATIVE_FUNCTION(Registry, getValue0)(JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName,
                                                     jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return nullptr;
    const JavaString name(env, valueName);
    UniqueRegKey key = named.open(Access::read);
    if (!key) return nullptr;
    const std::optional<Value> value = queryValue(key.get(), name.get(), kValueBufferBytes);
    return value ? javaValue(env, *value) : nullptr;
}

// The value is encoded before the key is created, so a refused value leaves
// no new key behind.
jboolean JNICALL NATIVE_FUNCTION(Registry, setValue0)(JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName,
                                                      jobject value, jint typeCode, jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    const JavaString name(env, valueName);
    const std::optional<std::uint32_t> type = typeForCode(typeCode);
    if (!type) return JNI_FALSE;
    const std::optional<Bytes> data = encodeJavaValue(env, value, *type);
    if (!data) return JNI_FALSE;
    UniqueRegKey key = named.open(Access::create);
    if (!key) return JNI_FALSE;
    const LSTATUS status = writeValue(key.get(), name.get(), *type, data->data(), data->size());
    if (status != ERROR_SUCCESS) {
        printDiagnostic("no success %d\n", static_cast<int>(status));
        return JNI_FALSE;
    }
    return JNI_TRUE;
}

void JNICALL NATIVE_FUNCTION(Registry, deleteValue0)(JNIEnv* env, jclass, jint root, jstring subKey, jstring valueName,
                                                     jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return;
    const JavaString name(env, valueName);
    UniqueRegKey key = named.open(Access::readWrite);
    if (key) deleteValue(key.get(), name.get());
}

void JNICALL NATIVE_FUNCTION(Registry, deleteKey0)(JNIEnv* env, jclass, jint root, jstring subKey, jboolean onlyIfEmpty,
                                                   jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return;
    if (onlyIfEmpty)
        deleteKeyIfEmpty(named.location());
    else
        deleteKeyTree(named.location());
}

jboolean JNICALL NATIVE_FUNCTION(Registry, saveKey0)(JNIEnv* env, jclass, jint root, jstring subKey, jstring file,
                                                     jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    const JavaString filePath(env, file);
    return toJava(saveKey(named.location(), filePath.get()));
}

jboolean JNICALL NATIVE_FUNCTION(Registry, restoreKey0)(JNIEnv* env, jclass, jint root, jstring subKey, jstring file,
                                                        jint view) {
    const NamedKey named(env, root, subKey, view);
    if (!named) return JNI_FALSE;
    const JavaString filePath(env, file);
    return toJava(restoreKey(named.location(), filePath.get()));
}

jobjectArray JNICALL NATIVE_FUNCTION(Registry, enumSubKeys0)(JNIEnv* env, jclass, jint root, jstring subKey,
                                                             jint view) {
    return enumerateNames(env, root, subKey, view, &subKeyNames);
}

jobjectArray JNICALL NATIVE_FUNCTION(Registry, enumValues0)(JNIEnv* env, jclass, jint root, jstring subKey, jint view) {
    return enumerateNames(env, root, subKey, view, &valueNames);
}

// SHChangeNotify through the shell function loader; nothing happens when the
// loader cannot find the shell functions.
void JNICALL NATIVE_FUNCTION(Registry, changeNotifyAssociations0)(JNIEnv*, jclass) {
    ShellFunctions shell;
    if (loadShellFunctions(shell)) shell.changeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

}  // extern "C"
