// JNI for the natives and the in-process start: strings and arrays across the
// boundary, object construction, lookups that leave no exception pending, and
// RAII for local references.
//
//   LocalRef<T>          owns one local reference, DeleteLocalRef at scope end
//   findClass, findMethod, findStaticMethod, findStaticField, isInstanceOf
//                        lookups; a failed one clears its pending exception
//   JavaString           a String argument as a NUL-terminated UTF-16 copy
//   newString            a String from UTF-16 (newStringUtf for ASCII words)
//   newStringArray, newObjectArray, newByteArray    results
//   readStringArray, readIntArray, readBooleanArray, readByteArray   arguments
//   Constructor, newObject                          objects through "<init>"
//
// The rules every native keeps (the layer keeps them too):
// - Failure is a return value (false, null, -1 or the family's code), never a
//   Java exception: a native throws nothing, and the only exceptions it
//   clears are the ones its own failed lookups left (findClass and friends).
//   Exceptions raised by other JNI calls are not examined.
// - Every local reference a native makes in a loop is deleted in that loop
//   (LocalRef, or the array builders here): a Java thread's local frame
//   guarantees only 16, so a long result must not hold one per element.
// - Strings cross as UTF-16 in both directions; modified UTF-8 is used only
//   for fixed ASCII words.
// - Diagnostics go to standard output (natives/native_bridge.h), never to
//   the Java side.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace jni {

// ---- Local references

// Owns one local reference (null is allowed) and deletes it when it goes out
// of scope or is reset.  release() hands it on without deleting it, for
// instance as a native's result.
//   jni::LocalRef<jclass> type(env, jni::findClass(env, "java/lang/Integer"));
template <typename T = jobject>
class LocalRef {
public:
    LocalRef() = default;
    LocalRef(JNIEnv* env, T reference) : env_(env), reference_(reference) {}
    ~LocalRef() { reset(); }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    LocalRef(LocalRef&& other) noexcept : env_(other.env_), reference_(other.release()) {}
    LocalRef& operator=(LocalRef&& other) noexcept {
        if (this != &other) {
            reset();
            env_ = other.env_;
            reference_ = other.release();
        }
        return *this;
    }

    T get() const { return reference_; }
    explicit operator bool() const { return reference_ != nullptr; }
    T release() {
        T reference = reference_;
        reference_ = nullptr;
        return reference;
    }
    // Deletes the reference held and takes `reference` (from the same env).
    void reset(T reference = nullptr) {
        if (reference_) env_->DeleteLocalRef(reference_);
        reference_ = reference;
    }

private:
    JNIEnv* env_ = nullptr;
    T reference_ = nullptr;
};

// ---- Lookups

// FindClass; null when the class is missing, with the NoClassDefFoundError it
// left pending cleared.  The result is a new local reference.
jclass findClass(JNIEnv* env, const char* name);
// GetMethodID / GetStaticMethodID / GetStaticFieldID; null when missing, with
// the NoSuchMethodError or NoSuchFieldError cleared.
jmethodID findMethod(JNIEnv* env, jclass owner, const char* name, const char* signature);
jmethodID findStaticMethod(JNIEnv* env, jclass owner, const char* name, const char* signature);
jfieldID findStaticField(JNIEnv* env, jclass owner, const char* name, const char* signature);
// Whether `value` is a non-null instance of the named class (or array type,
// such as "[B"); false when the class is missing.
bool isInstanceOf(JNIEnv* env, jobject value, const char* className);

// ---- Strings in

// A java.lang.String argument as a NUL-terminated UTF-16 copy, taken with
// GetStringChars and GetStringLength and released at once.  A null string
// gives a null pointer, which most natives hand to Windows as "absent"; an
// empty string gives an empty one.  (Characters the VM cannot lend also give
// null.)
//   const jni::JavaString path(env, pathArgument);
//   DWORD attributes = GetFileAttributesW(path.get());
class JavaString {
public:
    JavaString(JNIEnv* env, jstring string);
    const wchar_t* get() const { return isNull_ ? nullptr : text_.c_str(); }
    bool isNull() const { return isNull_; }
    // The characters, "" for a null string.
    const std::wstring& text() const { return text_; }
    std::u16string_view utf16() const { return {reinterpret_cast<const char16_t*>(text_.data()), text_.size()}; }

private:
    std::wstring text_;
    bool isNull_ = true;
};

// ---- Strings out

// NewString of the wcslen length of `text` (a result buffer filled by
// Windows); a null `text` gives null.
jstring newString(JNIEnv* env, const wchar_t* text);
// NewString of exactly these characters, inner NULs included.
jstring newString(JNIEnv* env, std::wstring_view text);
jstring newString(JNIEnv* env, std::u16string_view text);
// NewStringUTF, for fixed ASCII words only (the proxy results' "true" and
// "false"): modified UTF-8 is not the code page of any Windows text.
jstring newStringUtf(JNIEnv* env, const char* ascii);

// ---- Arrays out

// What an array builder does with an element that could not be made (its
// maker returned null): fail the whole array (null result), or leave the
// element out, so that the array holds exactly the elements made.
enum class MissingElement { failArray, leaveOut };

namespace detail {
jobjectArray newArray(JNIEnv* env, jclass elementClass, std::size_t count);
// The first `kept` elements of `array` in a new array of that length; the
// old array's reference is deleted.
jobjectArray keepFirst(JNIEnv* env, jobjectArray array, jclass elementClass, jsize kept);
}  // namespace detail

// A Java array of `elementClass` holding what make(i) gives for i = 0 ..
// count - 1, in order.  make returns a new local reference (or null when the
// element cannot be made); the builder stores it and deletes it at once, so
// the number of live local references stays the same for any count.  Null
// when the array cannot be created, or with failArray when an element is
// missing.
//   Constructor info(env, kWindowInfoClass, kWindowInfoSignature);
//   return jni::newObjectArray(env, info.type(), windows.size(), [&](std::size_t i) {
//       return info.newObject(windows[i].handle, windows[i].pid);
//   });
template <typename Make>
jobjectArray newObjectArray(JNIEnv* env, jclass elementClass, std::size_t count, Make make,
                            MissingElement ifMissing = MissingElement::failArray) {
    LocalRef<jobjectArray> array(env, detail::newArray(env, elementClass, count));
    if (!array) return nullptr;
    jsize stored = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const LocalRef<jobject> element(env, make(i));
        if (!element) {
            if (ifMissing == MissingElement::failArray) return nullptr;
            continue;
        }
        env->SetObjectArrayElement(array.get(), stored++, element.get());
    }
    if (static_cast<std::size_t>(stored) == count) return array.release();
    return detail::keepFirst(env, array.release(), elementClass, stored);
}

// A java.lang.String[] of the entries (each made from exactly its
// characters), in order, built as newObjectArray builds; null when
// java/lang/String cannot be found.  `entries` is a vector (or any indexable
// container) of std::wstring or std::u16string.
//   return jni::newStringArray(env, names);
template <typename Strings>
jobjectArray newStringArray(JNIEnv* env, const Strings& entries, MissingElement ifMissing = MissingElement::failArray) {
    const LocalRef<jclass> stringClass(env, findClass(env, "java/lang/String"));
    if (!stringClass) return nullptr;
    return newObjectArray(
        env, stringClass.get(), entries.size(),
        [&](std::size_t i) -> jobject {
            using Char = typename std::decay_t<decltype(entries[i])>::value_type;
            return newString(env, std::basic_string_view<Char>(entries[i]));
        },
        ifMissing);
}

// A byte[] holding a copy of the data; null when it cannot be created.
jbyteArray newByteArray(JNIEnv* env, const void* data, std::size_t size);

// ---- Arrays in

// The elements of a String[] (a null element gives a null JavaString), each
// element's local reference deleted once it is copied; none for a null array.
std::optional<std::vector<JavaString>> readStringArray(JNIEnv* env, jobjectArray array);
// The elements of an int[], boolean[] or byte[]; none for a null array.  A
// byte[] is read up to `limitBytes` (its first bytes).
std::optional<std::vector<jint>> readIntArray(JNIEnv* env, jintArray array);
std::optional<std::vector<bool>> readBooleanArray(JNIEnv* env, jbooleanArray array);
std::optional<std::vector<unsigned char>> readByteArray(
    JNIEnv* env, jbyteArray array, std::size_t limitBytes = std::numeric_limits<std::size_t>::max());

// ---- Objects

// A class and its constructor "<init>" with the given signature, looked up
// once for any number of objects (failed lookups leave nothing pending).
//   const jni::Constructor integer(env, "java/lang/Integer", "(I)V");
//   if (!integer) return nullptr;
//   return integer.newObject(jint{42});
class Constructor {
public:
    Constructor(JNIEnv* env, const char* className, const char* signature);
    explicit operator bool() const { return constructor_ != nullptr; }
    // The class (a local reference the Constructor owns), for arrays of it.
    jclass type() const { return class_.get(); }
    // NewObject with the constructor's arguments, which must match its
    // signature (jint, jlong, jboolean, jobject, ...); null when it fails.
    template <typename... Args>
    jobject newObject(Args... args) const {
        return constructor_ ? env_->NewObject(class_.get(), constructor_, args...) : nullptr;
    }

private:
    JNIEnv* env_;
    LocalRef<jclass> class_;
    jmethodID constructor_ = nullptr;
};

// One object through its constructor; null when the class, the constructor
// or the construction fails.  The arguments are made before the lookup, so
// for an argument that must not be made in vain use a Constructor.
template <typename... Args>
jobject newObject(JNIEnv* env, const char* className, const char* signature, Args... args) {
    const Constructor constructor(env, className, signature);
    return constructor.newObject(args...);
}

// ---- Booleans

inline jboolean toJava(bool value) { return value ? JNI_TRUE : JNI_FALSE; }

}  // namespace jni
