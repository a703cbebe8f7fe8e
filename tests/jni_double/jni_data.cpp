// The JNI test double's functions over data: strings, arrays, references
// and exceptions.  Each checks its handles; misuse is recorded as an error.
#include <cstring>

#include "tests/jni_double/environment_impl.h"

namespace jni_double {
namespace {

using Impl = Environment::Impl;

Impl& d(JNIEnv* env) { return *reinterpret_cast<EnvHolder*>(env)->impl; }

// ---------------------------------------------------------------------------
// Strings

jstring JNICALL NewString(JNIEnv* env, const jchar* chars, jsize length) {
    Impl& impl = d(env);
    impl.checkPending("NewString");
    if (length < 0 || (!chars && length > 0)) {
        impl.error("NewString: " + std::to_string(length) + " characters at " + (chars ? "an address" : "null"));
        return nullptr;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(chars), static_cast<std::size_t>(length));
    return static_cast<jstring>(impl.ref(impl.makeString(text)));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
    Impl& impl = d(env);
    impl.checkPending("NewStringUTF");
    return bytes ? static_cast<jstring>(impl.ref(impl.makeString(fromModifiedUtf8(bytes)))) : nullptr;
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring string) {
    Impl& impl = d(env);
    impl.checkPending("GetStringLength");
    Object* object = impl.derefKind(string, Kind::String, "GetStringLength", "a string");
    if (!object && !string) impl.error("GetStringLength: null string");
    return object ? static_cast<jsize>(object->text.size()) : 0;
}

// The characters are a copy that is not NUL-terminated: U+FFFF follows them
// (then a NUL), so code that wrongly relies on a terminator sees a wrong text
// instead of reading on.
const jchar* JNICALL GetStringChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    Impl& impl = d(env);
    impl.checkPending("GetStringChars");
    Object* object = impl.derefKind(string, Kind::String, "GetStringChars", "a string");
    if (!object) {
        if (!string) impl.error("GetStringChars: null string");
        return nullptr;
    }
    const std::size_t n = object->text.size();
    std::unique_ptr<unsigned char[]> copy(new unsigned char[(n + 2) * sizeof(jchar)]);
    auto* chars = reinterpret_cast<jchar*>(copy.get());
    std::memcpy(chars, object->text.data(), n * sizeof(jchar));
    chars[n] = 0xFFFF;
    chars[n + 1] = 0;
    impl.loans[chars] = Loan{object, std::move(copy)};
    if (isCopy) *isCopy = JNI_TRUE;
    return chars;
}

void release(Impl& impl, const char* function, jobject owner, const void* buffer) {
    auto loan = impl.loans.find(buffer);
    Object* object = impl.deref(owner, function);
    if (loan == impl.loans.end()) {
        impl.error(std::string(function) + ": not a buffer of this VM or released twice");
    } else if (loan->second.object != object) {
        impl.error(std::string(function) + ": the buffer belongs to " + impl.describe(loan->second.object) + ", not " +
                   impl.describe(object));
    } else {
        impl.loans.erase(loan);
    }
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring string, const jchar* chars) {
    release(d(env), "ReleaseStringChars", string, chars);
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    Impl& impl = d(env);
    impl.checkPending("GetStringUTFChars");
    Object* object = impl.derefKind(string, Kind::String, "GetStringUTFChars", "a string");
    if (!object) {
        if (!string) impl.error("GetStringUTFChars: null string");
        return nullptr;
    }
    const std::string bytes = toModifiedUtf8(object->text);
    std::unique_ptr<unsigned char[]> copy(new unsigned char[bytes.size() + 1]);
    std::memcpy(copy.get(), bytes.c_str(), bytes.size() + 1);
    const char* result = reinterpret_cast<const char*>(copy.get());
    impl.loans[result] = Loan{object, std::move(copy)};
    if (isCopy) *isCopy = JNI_TRUE;
    return result;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring string, const char* chars) {
    release(d(env), "ReleaseStringUTFChars", string, chars);
}

// ---------------------------------------------------------------------------
// Arrays

bool inBounds(Impl& impl, jsize start, jsize length, std::size_t size) {
    if (start < 0 || length < 0 || static_cast<std::size_t>(start) + static_cast<std::size_t>(length) > size) {
        impl.throwPending(impl.makeThrowable("java/lang/ArrayIndexOutOfBoundsException",
                                             L"Array region " + std::to_wstring(start) + L".." +
                                                 std::to_wstring(static_cast<long long>(start) + length) +
                                                 L" out of bounds for length " + std::to_wstring(size)));
        return false;
    }
    return true;
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass elementClass, jobject initial) {
    Impl& impl = d(env);
    impl.checkPending("NewObjectArray");
    ClassInfo* info = impl.classOf(elementClass, "NewObjectArray");
    if (!info) return nullptr;
    if (length < 0) {
        impl.throwPending(impl.makeThrowable("java/lang/NegativeArraySizeException", std::to_wstring(length)));
        return nullptr;
    }
    Object* array = impl.make(Kind::ObjectArray, &impl.declare("[L" + info->name + ";"));
    array->elementClass = info->name;
    array->elements.assign(static_cast<std::size_t>(length), impl.deref(initial, "NewObjectArray"));
    return static_cast<jobjectArray>(impl.ref(array));
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray arrayRef, jsize index, jobject value) {
    Impl& impl = d(env);
    impl.checkPending("SetObjectArrayElement");
    Object* array = impl.derefKind(arrayRef, Kind::ObjectArray, "SetObjectArrayElement", "an object array");
    Object* object = impl.deref(value, "SetObjectArrayElement");
    if (!array) {
        if (!arrayRef) impl.error("SetObjectArrayElement: null array");
        return;
    }
    if (!inBounds(impl, index, 1, array->elements.size())) return;
    if (object && !impl.isSubclass(object->cls, array->elementClass)) {
        impl.throwPending(impl.makeThrowable("java/lang/ArrayStoreException", L""));
        return;
    }
    array->elements[static_cast<std::size_t>(index)] = object;
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray arrayRef, jsize index) {
    Impl& impl = d(env);
    impl.checkPending("GetObjectArrayElement");
    Object* array = impl.derefKind(arrayRef, Kind::ObjectArray, "GetObjectArrayElement", "an object array");
    if (!array) {
        if (!arrayRef) impl.error("GetObjectArrayElement: null array");
        return nullptr;
    }
    if (!inBounds(impl, index, 1, array->elements.size())) return nullptr;
    return impl.ref(array->elements[static_cast<std::size_t>(index)]);
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray arrayRef) {
    Impl& impl = d(env);
    impl.checkPending("GetArrayLength");
    Object* array = impl.deref(arrayRef, "GetArrayLength");
    if (!array) {
        if (!arrayRef) impl.error("GetArrayLength: null array");
        return 0;
    }
    if (array->kind == Kind::ObjectArray) return static_cast<jsize>(array->elements.size());
    if (array->kind == Kind::PrimitiveArray)
        return static_cast<jsize>(array->bytes.size() / Impl::elementSize(array->elementType));
    impl.error("GetArrayLength: " + impl.describe(array) + " is not an array");
    return 0;
}

Object* primitiveArray(Impl& impl, jarray arrayRef, char type, const char* function) {
    Object* array = impl.derefKind(arrayRef, Kind::PrimitiveArray, function, "a primitive array");
    if (!array) {
        if (!arrayRef) impl.error(std::string(function) + ": null array");
        return nullptr;
    }
    if (array->elementType != type) {
        impl.error(std::string(function) + ": " + impl.describe(array) + " holds " + array->elementType + ", not " +
                   type);
        return nullptr;
    }
    return array;
}

const char* typeName(char type) { return type == 'B' ? "Byte" : type == 'I' ? "Int" : "Boolean"; }

std::string functionName(const char* verb, char type, const char* noun) {
    return std::string(verb) + typeName(type) + noun;
}

template <typename T, char Type, typename ArrayRef>
T* JNICALL getElements(JNIEnv* env, ArrayRef arrayRef, jboolean* isCopy) {
    Impl& impl = d(env);
    const std::string function = functionName("Get", Type, "ArrayElements");
    impl.checkPending(function.c_str());
    Object* array = primitiveArray(impl, arrayRef, Type, function.c_str());
    if (!array) return nullptr;
    std::unique_ptr<unsigned char[]> copy(new unsigned char[array->bytes.size() + sizeof(T)]);
    if (!array->bytes.empty()) std::memcpy(copy.get(), array->bytes.data(), array->bytes.size());
    T* result = reinterpret_cast<T*>(copy.get());
    impl.loans[result] = Loan{array, std::move(copy)};
    if (isCopy) *isCopy = JNI_TRUE;
    return result;
}

// Mode 0 copies back and frees, JNI_COMMIT copies back, JNI_ABORT frees.
template <typename T, char Type, typename ArrayRef>
void JNICALL releaseElements(JNIEnv* env, ArrayRef arrayRef, T* elements, jint mode) {
    Impl& impl = d(env);
    const std::string function = functionName("Release", Type, "ArrayElements");
    Object* array = primitiveArray(impl, arrayRef, Type, function.c_str());
    auto loan = impl.loans.find(elements);
    if (!array || loan == impl.loans.end() || loan->second.object != array) {
        impl.error(function + ": not the elements of " + impl.describe(array) + " or released twice");
        return;
    }
    if (mode == 0 || mode == JNI_COMMIT)
        if (!array->bytes.empty()) std::memcpy(array->bytes.data(), elements, array->bytes.size());
    if (mode == 0 || mode == JNI_ABORT) impl.loans.erase(loan);
}

template <typename T, char Type, typename ArrayRef>
void JNICALL getRegion(JNIEnv* env, ArrayRef arrayRef, jsize start, jsize length, T* buffer) {
    Impl& impl = d(env);
    const std::string function = functionName("Get", Type, "ArrayRegion");
    impl.checkPending(function.c_str());
    Object* array = primitiveArray(impl, arrayRef, Type, function.c_str());
    if (!array || !inBounds(impl, start, length, array->bytes.size() / sizeof(T))) return;
    if (length > 0) std::memcpy(buffer, array->bytes.data() + start * sizeof(T), length * sizeof(T));
}

template <typename T, char Type, typename ArrayRef>
void JNICALL setRegion(JNIEnv* env, ArrayRef arrayRef, jsize start, jsize length, const T* buffer) {
    Impl& impl = d(env);
    const std::string function = functionName("Set", Type, "ArrayRegion");
    impl.checkPending(function.c_str());
    Object* array = primitiveArray(impl, arrayRef, Type, function.c_str());
    if (!array || !inBounds(impl, start, length, array->bytes.size() / sizeof(T))) return;
    if (length > 0) std::memcpy(array->bytes.data() + start * sizeof(T), buffer, length * sizeof(T));
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length) {
    Impl& impl = d(env);
    impl.checkPending("NewByteArray");
    if (length < 0) {
        impl.throwPending(impl.makeThrowable("java/lang/NegativeArraySizeException", std::to_wstring(length)));
        return nullptr;
    }
    return static_cast<jbyteArray>(impl.ref(impl.makePrimitiveArray('B', static_cast<std::size_t>(length))));
}

jintArray JNICALL NewIntArray(JNIEnv* env, jsize length) {
    Impl& impl = d(env);
    impl.checkPending("NewIntArray");
    if (length < 0) {
        impl.throwPending(impl.makeThrowable("java/lang/NegativeArraySizeException", std::to_wstring(length)));
        return nullptr;
    }
    return static_cast<jintArray>(impl.ref(impl.makePrimitiveArray('I', static_cast<std::size_t>(length))));
}

// ---------------------------------------------------------------------------
// References and exceptions

void JNICALL DeleteLocalRef(JNIEnv* env, jobject reference) {
    Impl& impl = d(env);
    if (!reference) return;
    auto* r = reinterpret_cast<Ref*>(reference);
    if (!impl.liveRefs.count(r)) {
        impl.error("DeleteLocalRef: not a reference of this VM");
    } else if (r->deleted) {
        impl.error("DeleteLocalRef: deleted twice: " + impl.describe(r->object));
    } else {
        r->deleted = true;
        ++impl.deletedLocalRefs;
        --impl.liveLocalRefs;
    }
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    Impl& impl = d(env);
    impl.add("ExceptionOccurred -> " + impl.describe(impl.pending));
    return static_cast<jthrowable>(impl.ref(impl.pending));
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    Impl& impl = d(env);
    impl.add(std::string("ExceptionCheck -> ") + (impl.pending ? "true" : "false"));
    return impl.pending ? JNI_TRUE : JNI_FALSE;
}

// Like a VM, prints the exception (here only its toString, its own override
// if it has one) and clears it.
void JNICALL ExceptionDescribe(JNIEnv* env) {
    Impl& impl = d(env);
    impl.add("ExceptionDescribe " + impl.describe(impl.pending));
    if (impl.pending && impl.describeOutput) impl.describeOutput(toUtf8(impl.javaToString(impl.pending)) + "\n");
    impl.pending = nullptr;
}

void JNICALL ExceptionClear(JNIEnv* env) {
    Impl& impl = d(env);
    impl.add("ExceptionClear " + impl.describe(impl.pending));
    impl.pending = nullptr;
}

jint JNICALL Throw(JNIEnv* env, jthrowable exception) {
    Impl& impl = d(env);
    Object* object = impl.deref(exception, "Throw");
    if (!object || !impl.isSubclass(object->cls, "java/lang/Throwable")) {
        impl.error("Throw: " + impl.describe(object) + " is not a throwable");
        return JNI_ERR;
    }
    impl.add("Throw " + impl.describe(object));
    impl.pending = object;
    return JNI_OK;
}

}  // namespace

void fillDataFunctions(JNINativeInterface_& t) {
    t.NewString = NewString;
    t.NewStringUTF = NewStringUTF;
    t.GetStringLength = GetStringLength;
    t.GetStringChars = GetStringChars;
    t.ReleaseStringChars = ReleaseStringChars;
    t.GetStringUTFChars = GetStringUTFChars;
    t.ReleaseStringUTFChars = ReleaseStringUTFChars;
    t.NewObjectArray = NewObjectArray;
    t.SetObjectArrayElement = SetObjectArrayElement;
    t.GetObjectArrayElement = GetObjectArrayElement;
    t.GetArrayLength = GetArrayLength;
    t.NewByteArray = NewByteArray;
    t.GetByteArrayElements = getElements<jbyte, 'B', jbyteArray>;
    t.ReleaseByteArrayElements = releaseElements<jbyte, 'B', jbyteArray>;
    t.GetByteArrayRegion = getRegion<jbyte, 'B', jbyteArray>;
    t.SetByteArrayRegion = setRegion<jbyte, 'B', jbyteArray>;
    t.GetIntArrayElements = getElements<jint, 'I', jintArray>;
    t.ReleaseIntArrayElements = releaseElements<jint, 'I', jintArray>;
    t.GetIntArrayRegion = getRegion<jint, 'I', jintArray>;
    t.NewIntArray = NewIntArray;
    t.SetIntArrayRegion = setRegion<jint, 'I', jintArray>;
    t.GetBooleanArrayRegion = getRegion<jboolean, 'Z', jbooleanArray>;
    t.DeleteLocalRef = DeleteLocalRef;
    t.ExceptionOccurred = ExceptionOccurred;
    t.ExceptionCheck = ExceptionCheck;
    t.ExceptionDescribe = ExceptionDescribe;
    t.ExceptionClear = ExceptionClear;
    t.Throw = Throw;
}

}  // namespace jni_double
