// Inside the JNI test double: the object model, references and the record,
// shared by environment.cpp (the model and the C++ API) and
// jni_functions.cpp (the JNI function tables over it).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/jni_double/jni_double.h"

namespace jni_double {

struct ClassInfo;

struct Method {
    ClassInfo* owner = nullptr;
    std::string name;
    std::string signature;
    bool isStatic = false;
    bool isNative = false;
    MethodBody body;
    void* boundFunction = nullptr;
};

struct Field {
    ClassInfo* owner = nullptr;
    std::string name;
    std::string signature;
    bool isStatic = false;
    struct Object* value = nullptr;  // static object fields only
};

enum class Kind { Class, String, ObjectArray, PrimitiveArray, Instance };

// One Java object.  Objects live as long as the Environment (nothing is
// collected); what JNI hands out are references to them (struct Ref).
struct Object {
    Kind kind = Kind::Instance;
    int id = 0;                 // creation order, shown as "#id"
    ClassInfo* cls = nullptr;   // the object's class
    ClassInfo* info = nullptr;  // Kind::Class: the class it stands for
    std::wstring text;          // String: its characters; Instance: its toString ("" = default)
    std::string elementClass;   // ObjectArray
    std::vector<Object*> elements;
    char elementType = 0;  // PrimitiveArray: 'Z', 'B', 'C', 'S', 'I', 'J', 'F', 'D'
    std::vector<unsigned char> bytes;
    std::string constructorArguments;  // Instance made by NewObject
};

struct ClassInfo {
    std::string name;
    std::string superclass;
    std::deque<Method> methods;  // deques keep the addresses handed out as IDs
    std::deque<Field> fields;
    Object* object = nullptr;  // the java/lang/Class object
};

// A local reference handed out through JNI.
struct Ref {
    Object* object = nullptr;
    bool deleted = false;
};

// Buffers handed out by Get<...>Chars / Get<...>ArrayElements until released.
struct Loan {
    Object* object = nullptr;
    std::unique_ptr<unsigned char[]> copy;  // null when the array's own storage was lent
};

struct Failures {
    bool create = false;
    std::set<std::string> findClass;
    std::set<std::string> staticMethods;
    std::set<std::string> registerNatives;
    bool mainThrows = false;
    bool mainExits = false;
    int exitCode = 0;
};

struct EnvHolder;
struct VmHolder;

struct Environment::Impl {
    explicit Impl(Environment& owner);
    ~Impl();

    Environment& owner;
    std::unique_ptr<EnvHolder> envHolder;
    std::unique_ptr<VmHolder> vmHolder;

    std::map<std::string, std::unique_ptr<ClassInfo>> classes;
    std::deque<std::unique_ptr<Object>> objects;
    std::deque<std::unique_ptr<Ref>> refs;
    std::set<const Ref*> liveRefs;
    std::set<const Method*> methodIds;
    std::set<const Field*> fieldIds;
    std::map<const void*, Loan> loans;
    int deletedLocalRefs = 0;
    int liveLocalRefs = 0;  // handed out and not deleted
    int peakLocalRefs = 0;  // the most live at once since the last reset

    Object* pending = nullptr;
    std::map<std::string, std::wstring> properties;
    std::vector<BoundNative> bound;
    InitArgs initArgs;
    bool created = false;
    bool destroyed = false;

    Failures failures;
    std::wstring throwText = L"java.lang.RuntimeException: requested by test";
    std::function<void(int)> exitHandler;
    std::function<void(const std::string&)> describeOutput;

    std::vector<std::string> record;
    std::function<void(const std::string&)> sink;

    // ---- model
    ClassInfo& declare(const std::string& name, const std::string& superclass = "java/lang/Object");
    ClassInfo* lookup(const std::string& name) const;
    Method& addMethod(ClassInfo& cls, const std::string& name, const std::string& signature, bool isStatic,
                      bool isNative, MethodBody body);
    Method* findMethod(ClassInfo& cls, const std::string& name, const std::string& signature, bool isStatic);
    Field* findField(ClassInfo& cls, const std::string& name, const std::string& signature, bool isStatic);
    bool isSubclass(const ClassInfo* cls, const std::string& ancestor) const;

    Object* make(Kind kind, ClassInfo* cls);
    Object* makeString(const std::wstring& text);
    Object* makeThrowable(const std::string& className, const std::wstring& message);
    Object* makePrimitiveArray(char type, std::size_t length);
    static std::size_t elementSize(char type);

    // ---- references
    jobject ref(Object* object);
    // The object of a reference; null for a null reference.  A reference the
    // double never handed out, or one already deleted, is recorded as an
    // error (in `function`) and also gives null.
    Object* deref(jobject reference, const char* function);
    Object* derefKind(jobject reference, Kind kind, const char* function, const char* what);
    // The class a class reference stands for; null (and an error) otherwise.
    ClassInfo* classOf(jclass reference, const char* function);

    // ---- record
    void add(const std::string& line);
    void error(const std::string& text);
    // Records a warning when `function` is called while an exception is
    // pending (a real VM's -Xcheck:jni complains the same way).
    void checkPending(const char* function);
    std::string describe(const Object* object) const;
    std::string describeValue(char type, const jvalue& value) const;
    std::string describeArguments(const std::string& signature, const std::vector<jvalue>& args) const;
    std::wstring toStringOf(const Object* object) const;
    // What a Java toString() call gives: the override the object's class
    // declares (run without recording it), else toStringOf.
    std::wstring javaToString(Object* object);

    // ---- calls
    // Runs a method whose arguments were read already; records the call.
    jvalue invoke(const char* function, Object* target, Method* method, const std::vector<jvalue>& args);
    void throwPending(Object* exception);
};

// A JNIEnv / JavaVM with the way back to their Environment behind them.
struct EnvHolder {
    JNIEnv env;
    Environment::Impl* impl;
};
struct VmHolder {
    JavaVM vm;
    Environment::Impl* impl;
};

// The function tables (jni_functions.cpp); jni_data.cpp fills the slots of
// strings, arrays, references and exceptions.
const JNINativeInterface_* nativeInterface();
void fillDataFunctions(JNINativeInterface_& table);
const JNIInvokeInterface_* invokeInterface();

// Parameter types of a method signature, one type text each ("I", "[B",
// "Ljava/lang/String;"), and its return type; false for a malformed signature.
bool parseSignature(const std::string& signature, std::vector<std::string>& parameters, std::string& result);

// Modified UTF-8 (JNI's NewStringUTF/GetStringUTFChars) to and from UTF-16.
std::wstring fromModifiedUtf8(const char* text);
std::string toModifiedUtf8(const std::wstring& text);
// Plain UTF-8 for the record (lone surrogates become U+FFFD).
std::string toUtf8(const std::wstring& text);

}  // namespace jni_double
