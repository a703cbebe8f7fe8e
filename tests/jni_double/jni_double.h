// Test double of a Java VM and its JNI environment, for the Windows targets.
//
// It stands in for a real JVM where none can run: the 32-bit end-to-end tests
// (no 32-bit Windows JVM is available) load it as jvm.dll, and the unit tests
// of the natives and of their registration link it directly.  It implements
// the JNI functions the launcher and the natives use over a small in-memory
// object model (classes that a test declares, strings, arrays, plain objects,
// one pending exception), records every call in a line-per-event text and
// fails the steps a test asks it to fail.  Every other JNI function records
// "unexpected JNI call <slot>" and returns null or zero.
//
// The record's line format is documented at the top of environment.cpp.
#pragma once

#include <jni.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jni_double {

class Environment;

// What a declared Java method does when it is called: `target` is the class
// (static methods) or the object (instance methods), `args` the arguments as
// read from the call.  The result is ignored for void methods.
using MethodBody = std::function<jvalue(Environment& environment, jobject target, const std::vector<jvalue>& args)>;

// One native bound by RegisterNatives.
struct BoundNative {
    std::string className;  // with slashes, e.g. "java/lang/Object"
    std::string name;
    std::string signature;
    void* function = nullptr;
};

// The init arguments JNI_CreateJavaVM was given.
struct InitArgs {
    jint version = 0;
    std::vector<std::string> options;  // optionString bytes as given (the ANSI code page)
    bool ignoreUnrecognized = false;
};

// The package of the launcher's native classes, written out here on purpose:
// the double checks the launcher's table against the Java side's names.
constexpr const char kNativePackage[] = "com/tovrix/runtime/installer/platform/win32";

class Environment {
public:
    Environment();
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // The JNI environment of the (one) thread and the VM it belongs to.
    JNIEnv* env();
    JavaVM* vm();

    // ---- What exists on the Java side.  java/lang/Object (with toString),
    // java/lang/String, java/lang/Class and java/lang/Throwable always exist.
    void declareClass(const std::string& name, const std::string& superclass = "java/lang/Object");
    void declareStaticMethod(const std::string& className, const std::string& name, const std::string& signature,
                             MethodBody body = {});
    void declareMethod(const std::string& className, const std::string& name, const std::string& signature,
                       MethodBody body = {});
    void declareStaticField(const std::string& className, const std::string& name, const std::string& signature);
    // A static native method: RegisterNatives accepts exactly these.
    void declareNative(const std::string& className, const std::string& name, const std::string& signature);
    // The fifteen native classes with their 79 natives from natives/native_methods.inc.
    void declareNativesFromTable();
    // What the launcher touches besides the natives: both WinLauncher classes
    // with main (and initAwtSplashConfig), Common.initFromLauncher,
    // WinDel.externalExecutable and System.setProperty (which keeps the
    // properties, see property()).
    void declareLauncherClasses();

    // ---- Failure injection.  Steps: "create" (JNI_CreateJavaVM gives -1),
    // "findclass:<name>" (null and a pending NoClassDefFoundError),
    // "method:<name>" (GetStaticMethodID of that name gives null and a pending
    // NoSuchMethodError), "registernatives:<class>" (-1), "main:throw" (main
    // leaves a pending exception whose toString is the throw text),
    // "main:exit:<n>" (main ends the process with code n, like System.exit).
    // False for an unknown step.
    bool failStep(const std::string& step);
    void setThrowText(const std::wstring& text);
    // How "main:exit:<n>" ends the process; ExitProcess unless replaced.
    void setExitHandler(std::function<void(int)> handler);
    // Where ExceptionDescribe prints (the text and a line end); nowhere unless set.
    void setDescribeOutput(std::function<void(const std::string&)> output);

    // ---- The invocation interface's entry.
    jint createJavaVM(JavaVM** vm, void** env, void* args);

    // ---- Objects, made and read without going through JNI or the record.
    jclass findClass(const std::string& name);  // null when not declared
    jstring newString(const std::wstring& text);
    std::wstring stringValue(jobject string) const;  // "" for null or a non-string
    bool isString(jobject object) const;
    jobjectArray newStringArray(const std::vector<std::wstring>& entries);
    jobjectArray newObjectArray(const std::string& elementClass, const std::vector<jobject>& elements);
    std::vector<jobject> arrayElements(jobjectArray array) const;
    std::vector<std::wstring> stringArrayValue(jobjectArray array) const;
    jbyteArray newByteArray(const std::vector<jbyte>& values);
    jintArray newIntArray(const std::vector<jint>& values);
    jbooleanArray newBooleanArray(const std::vector<bool>& values);
    std::vector<jbyte> byteArrayValue(jbyteArray array) const;
    std::vector<jint> intArrayValue(jintArray array) const;
    // An instance of a declared class; toString gives `text` when not empty.
    jobject newObject(const std::string& className, const std::wstring& text = L"");
    // A throwable whose toString is "<class with dots>: <message>" (just the class without a message).
    jthrowable newThrowable(const std::string& className, const std::wstring& message = L"");
    std::string classNameOf(jobject object) const;  // "" for null
    // The constructor arguments NewObject recorded for the object, formatted as in the record.
    std::string constructorArguments(jobject object) const;
    // The object as the record writes it.
    std::string describe(jobject object) const;

    // ---- State.
    jthrowable pendingException() const;
    void setPendingException(jthrowable exception);
    std::wstring toStringOf(jobject object) const;  // what Object.toString gives
    bool hasProperty(const std::string& name) const;
    std::wstring property(const std::string& name) const;
    jobject staticField(const std::string& className, const std::string& name) const;
    std::vector<BoundNative> boundNatives() const;  // in the order they were bound
    const InitArgs& initArgs() const;
    bool created() const;
    bool destroyed() const;
    int deletedLocalRefs() const;
    // Local references handed out and not deleted (objects the test makes
    // count too), and the most that were live at once since
    // resetPeakLocalRefs: a VM guarantees a native frame only 16.
    int liveLocalRefs() const;
    int peakLocalRefs() const;
    void resetPeakLocalRefs();
    // Strings and arrays whose characters or elements were taken and not released.
    int unreleasedBuffers() const;

    // ---- The record: every event as one line, in order.
    const std::vector<std::string>& record() const;
    // The lines that begin with `prefix`.
    std::vector<std::string> events(const std::string& prefix) const;
    // Lines that show misuse or a gap in the double: "error ...", "warning ...",
    // "unexpected JNI call ...".
    std::vector<std::string> problems() const;
    // Also hands each new line to `sink` (the DLL writes them to its record file).
    void setRecordSink(std::function<void(const std::string&)> sink);
    // Adds an event of the caller's own (the DLL's "config" line).
    void addEvent(const std::string& line);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// The Environment a JNI environment or VM of the double belongs to; null for
// any other pointer.
Environment* environmentOf(JNIEnv* env);
Environment* environmentOf(JavaVM* vm);

// Text in a record line: a JSON-compatible quoted string of the UTF-16 text.
std::string quoted(const std::wstring& text);
std::string quoted(const std::string& ascii);

}  // namespace jni_double
