#include "natives/jni_helpers.h"

#include <cwchar>

namespace jni {

static_assert(sizeof(wchar_t) == sizeof(jchar) && sizeof(char16_t) == sizeof(jchar), "Java strings are UTF-16");

namespace {

const jchar* javaChars(const wchar_t* text) { return reinterpret_cast<const jchar*>(text); }
const jchar* javaChars(const char16_t* text) { return reinterpret_cast<const jchar*>(text); }

// Characters beyond a jsize cannot form one Java string.
bool fitsJava(std::size_t count) { return count <= static_cast<std::size_t>(std::numeric_limits<jsize>::max()); }

}  // namespace

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

jmethodID findStaticMethod(JNIEnv* env, jclass owner, const char* name, const char* signature) {
    jmethodID method = env->GetStaticMethodID(owner, name, signature);
    if (!method) env->ExceptionClear();
    return method;
}

jfieldID findStaticField(JNIEnv* env, jclass owner, const char* name, const char* signature) {
    jfieldID field = env->GetStaticFieldID(owner, name, signature);
    if (!field) env->ExceptionClear();
    return field;
}

bool isInstanceOf(JNIEnv* env, jobject value, const char* className) {
    if (!value) return false;
    const LocalRef<jclass> type(env, findClass(env, className));
    return type && env->IsInstanceOf(value, type.get());
}

JavaString::JavaString(JNIEnv* env, jstring string) {
    if (!string) return;
    const jchar* chars = env->GetStringChars(string, nullptr);
    if (!chars) return;
    const jsize length = env->GetStringLength(string);
    text_.assign(reinterpret_cast<const wchar_t*>(chars), static_cast<std::size_t>(length));
    env->ReleaseStringChars(string, chars);
    isNull_ = false;
}

jstring newString(JNIEnv* env, const wchar_t* text) {
    return text ? newString(env, std::wstring_view(text, std::wcslen(text))) : nullptr;
}

jstring newString(JNIEnv* env, std::wstring_view text) {
    if (!fitsJava(text.size())) return nullptr;
    return env->NewString(javaChars(text.data()), static_cast<jsize>(text.size()));
}

jstring newString(JNIEnv* env, std::u16string_view text) {
    if (!fitsJava(text.size())) return nullptr;
    return env->NewString(javaChars(text.data()), static_cast<jsize>(text.size()));
}

jstring newStringUtf(JNIEnv* env, const char* ascii) { return ascii ? env->NewStringUTF(ascii) : nullptr; }

namespace detail {

jobjectArray newArray(JNIEnv* env, jclass elementClass, std::size_t count) {
    if (!elementClass || !fitsJava(count)) return nullptr;
    return env->NewObjectArray(static_cast<jsize>(count), elementClass, nullptr);
}

jobjectArray keepFirst(JNIEnv* env, jobjectArray array, jclass elementClass, jsize kept) {
    const LocalRef<jobjectArray> full(env, array);
    LocalRef<jobjectArray> exact(env, env->NewObjectArray(kept, elementClass, nullptr));
    if (!exact) return nullptr;
    for (jsize i = 0; i < kept; ++i) {
        const LocalRef<jobject> element(env, env->GetObjectArrayElement(full.get(), i));
        env->SetObjectArrayElement(exact.get(), i, element.get());
    }
    return exact.release();
}

}  // namespace detail

jbyteArray newByteArray(JNIEnv* env, const void* data, std::size_t size) {
    if (!fitsJava(size)) return nullptr;
    jbyteArray array = env->NewByteArray(static_cast<jsize>(size));
    if (array && size > 0) env->SetByteArrayRegion(array, 0, static_cast<jsize>(size), static_cast<const jbyte*>(data));
    return array;
}

std::optional<std::vector<JavaString>> readStringArray(JNIEnv* env, jobjectArray array) {
    if (!array) return std::nullopt;
    const jsize length = env->GetArrayLength(array);
    std::vector<JavaString> strings;
    strings.reserve(static_cast<std::size_t>(length));
    for (jsize i = 0; i < length; ++i) {
        const LocalRef<jstring> element(env, static_cast<jstring>(env->GetObjectArrayElement(array, i)));
        strings.emplace_back(env, element.get());
    }
    return strings;
}

std::optional<std::vector<jint>> readIntArray(JNIEnv* env, jintArray array) {
    if (!array) return std::nullopt;
    std::vector<jint> values(static_cast<std::size_t>(env->GetArrayLength(array)));
    if (!values.empty()) env->GetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
    return values;
}

std::optional<std::vector<bool>> readBooleanArray(JNIEnv* env, jbooleanArray array) {
    if (!array) return std::nullopt;
    std::vector<jboolean> raw(static_cast<std::size_t>(env->GetArrayLength(array)));
    if (!raw.empty()) env->GetBooleanArrayRegion(array, 0, static_cast<jsize>(raw.size()), raw.data());
    std::vector<bool> values;
    values.reserve(raw.size());
    for (jboolean value : raw) values.push_back(value != JNI_FALSE);
    return values;
}

std::optional<std::vector<unsigned char>> readByteArray(JNIEnv* env, jbyteArray array, std::size_t limitBytes) {
    if (!array) return std::nullopt;
    const auto length = static_cast<std::size_t>(env->GetArrayLength(array));
    std::vector<unsigned char> bytes(length < limitBytes ? length : limitBytes);
    if (!bytes.empty())
        env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(bytes.data()));
    return bytes;
}

Constructor::Constructor(JNIEnv* env, const char* className, const char* signature)
    : env_(env), class_(env, findClass(env, className)) {
    if (class_) constructor_ = findMethod(env, class_.get(), "<init>", signature);
}

}  // namespace jni
