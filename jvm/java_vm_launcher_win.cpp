#include "jvm/java_vm_launcher.h"

#include <windows.h>

#include <string>
#include <vector>

#include "jvm/jvm_selection.h"
#include "jvm/main_arguments.h"
#include "jvm/vm_options.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/expand.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "natives/jni_helpers.h"
#include "natives/native_package.h"
#include "natives/registration.h"

namespace {

const char kInstallerLauncherClass[] = "com/tovrix/runtime/launcher/WinLauncher";
const char kApplicationLauncherClass[] = "com/kelpa/runtime/WinLauncher";
const char kCommonClass[] = NATIVE_PACKAGE_PATH "/Common";
const char kSplashSignature[] = "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V";

// One VM per process: written once by the launching thread, pointer first.
JavaVM* g_vm = nullptr;
JNIEnv* g_env = nullptr;
bool g_jvmCreated = false;

// Hands the splash settings of configuration 10109..10122 to the Java side.
void initAwtSplashConfig(JNIEnv* env) {
    const jni::LocalRef<jclass> launcher(env, jni::findClass(env, kApplicationLauncherClass));
    if (!launcher) {
        logMessage(L"could not find main class for splash properties");
        return;
    }
    jmethodID method = jni::findStaticMethod(env, launcher.get(), "initAwtSplashConfig", kSplashSignature);
    if (!method) {
        logMessage(L"could not find method for splash properties");
        return;
    }
    auto text = [env](std::int32_t id) {
        char buffer[2000];
        getConfigString(id, buffer, sizeof buffer);
        return jni::LocalRef<jstring>(env, jni::newStringUtf(env, buffer));
    };
    const jni::LocalRef<jstring> fonts[] = {text(config::kSplashFont1), text(config::kSplashFont2),
                                            text(config::kSplashFont3), text(config::kSplashFont4)};
    env->CallStaticVoidMethod(
        launcher.get(), method, JNI_TRUE, jni::toJava(getConfigInt(config::kSplashFlag) != 0), fonts[0].get(),
        getConfigInt(config::kSplashValue1a), getConfigInt(config::kSplashValue1b), fonts[1].get(),
        getConfigInt(config::kSplashValue2a), getConfigInt(config::kSplashValue2b), fonts[2].get(),
        getConfigInt(config::kSplashValue3a), getConfigInt(config::kSplashValue3b), fonts[3].get(),
        getConfigInt(config::kSplashValue4a), getConfigInt(config::kSplashValue4b));
}

bool initFromLauncher(JNIEnv* env, bool value) {
    const jni::LocalRef<jclass> common(env, jni::findClass(env, kCommonClass));
    if (!common) {
        logMessage(L"did not find %S", kCommonClass);
        return false;
    }
    jmethodID method = jni::findStaticMethod(env, common.get(), "initFromLauncher", "(Z)V");
    if (!method) {
        logMessage(L"did not find initMethod");
        return false;
    }
    env->CallStaticVoidMethod(common.get(), method, jni::toJava(value));
    return true;
}

// The natives are the executable's own exports; registerNatives binds them.
void registerOwnNatives(JNIEnv* env) {
    logMessage(L"load helper dll");
    HMODULE self = GetModuleHandleW(nullptr);
    logMessage(L"helper dll (in-module) %p", self);
    // Looked up like a helper library's export, though it is the executable's own.
    auto registerExported =
        reinterpret_cast<RegisterNativesFn>(reinterpret_cast<void*>(GetProcAddress(self, "registerNatives")));
    if (!registerExported) {
        logMessage(L"did not find register natives in helper dll");
        return;
    }
    if (!initFromLauncher(env, true)) return;
    if (!registerExported(env, self, &logError)) {
        logMessage(L"registering helper dll failed");
        // Registration leaves the failed lookup's exception pending; the start
        // goes on without the natives, so it must not reach main as if main
        // had thrown it.
        env->ExceptionClear();
        initFromLauncher(env, false);
    }
}

// Tells the Java side which executable runs the post-exit deletion mode.
void setDeletionHelperPath(JNIEnv* env) {
    const jni::LocalRef<jclass> winDel(env, jni::findClass(env, "com/kelpa/runtime/util/WinDel"));
    if (!winDel) {
        logMessage(L"did not find WinDel class");
        return;
    }
    jfieldID field = jni::findStaticField(env, winDel.get(), "externalExecutable", "Ljava/lang/String;");
    if (!field) {
        logMessage(L"did not find WinDel field");
        return;
    }
    const wstring module = moduleFileName();
    if (module.empty()) {
        logMessage(L"could not get module name for WinDel");
        return;
    }
    const jni::LocalRef<jstring> path(env, jni::newString(env, module));
    if (!path) {
        logMessage(L"could not create string for WinDel");
        return;
    }
    env->SetStaticObjectField(winDel.get(), field, path.get());
}

void setModuleNameProperty(JNIEnv* env) {
    // Released in the reverse order of their making: name, value, class.
    const jni::LocalRef<jclass> system(env, jni::findClass(env, "java/lang/System"));
    if (!system) {
        logMessage(L"could not get system class");
        return;
    }
    jmethodID setProperty = jni::findStaticMethod(env, system.get(), "setProperty",
                                                  "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    if (!setProperty) {
        logMessage(L"could not get method for module name init");
        return;
    }
    const wstring& longPath = getExecutableLongPath();
    const jni::LocalRef<jstring> value(env, jni::newString(env, longPath));
    const jni::LocalRef<jstring> name(env, jni::newStringUtf(env, "kelpa.moduleName"));
    if (!value || !name) {
        logMessage(L"could not create string for init module name");
        return;
    }
    logMessage(L"setting kelpa.moduleName to %s", longPath.c_str());
    env->CallStaticObjectMethod(system.get(), setProperty, name.get(), value.get());
}

// A configured log file name: expanded, then made absolute and full (case
// kept) against the executable directory unless it still begins with "$".
wstring configuredFileName(std::int32_t flagId, std::int32_t nameId) {
    if (getConfigInt(flagId) == 0) return wstring();
    wstring name = getConfigWideString(nameId, kTextLimit);
    expandVariables(name, false);
    if (!name.empty() && name[0] == L'$') return name;
    return makeAbsoluteFull(name, true);
}

std::vector<wstring> mainArguments(const ArgumentVector& words) {
    MainArgumentInputs in;
    in.windowedKind = getConfigInt(config::kExecutableKind) == 1;
    in.mainClass = getConfigWideString(config::kMainClass, kTextLimit);
    in.mainClassInModule = getConfigInt(config::kMainClassInModule) != 0;
    in.errorLog = configuredFileName(config::kErrorLogEnabled, config::kErrorLogName);
    in.outputLog = configuredFileName(config::kOutputLogEnabled, config::kOutputLogName);
    in.flag106 = getConfigInt(config::kJavaFlag) != 0;
    wstring configured = getConfigWideString(config::kMainArguments, 2000);
    expandVariables(configured, false);
    splitCommandLine(configured, in.configuredArguments);
    in.javaOptionWords = getConfigInt(config::kJavaOptionWords) != 0;
    return buildMainArguments(in, words);
}

bool callMain(JNIEnv* env, const ArgumentVector& words) {
    std::string className = programKind().installer ? kInstallerLauncherClass : kApplicationLauncherClass;
    for (char& c : className)
        if (c == '.') c = '/';
    logMessage(L"main class: %S", className.c_str());
    // Plain lookups, not jni::findClass: a missing class or main ends the
    // launcher with its message, so nothing is cleared first.
    jclass launcher = env->FindClass(className.c_str());
    if (!launcher) {
        logError(L"could not find main class");
        fatalConfiguredError(message::kMainClassNotFound);
    }
    jmethodID main = env->GetStaticMethodID(launcher, "main", "([Ljava/lang/String;)V");
    if (!main) {
        logError(L"could not find main method");
        fatalConfiguredError(message::kMainMethodNotFound);
    }
    const std::vector<wstring> arguments = mainArguments(words);
    logMessage(L"param count: %d", static_cast<int>(arguments.size()));
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array =
        stringClass ? env->NewObjectArray(static_cast<jsize>(arguments.size()), stringClass, nullptr) : nullptr;
    if (!array) fatalInternalError("paramArray");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const jni::LocalRef<jstring> argument(env, jni::newString(env, arguments[i]));
        if (!argument) fatalInternalError("jstr");
        logMessage(L"param %d: %s", static_cast<int>(i), arguments[i].c_str());
        env->SetObjectArrayElement(array, static_cast<jsize>(i), argument.get());
    }
    logMessage(L"calling main");
    env->CallStaticVoidMethod(launcher, main, array);
    logMessage(L"main returned");
    return reportJavaException(env, true);
}

}  // namespace

bool reportJavaException(JNIEnv* env, bool describe) {
    jthrowable exception = env->ExceptionOccurred();
    if (!exception) return true;
    logError(L"an exception occurred");
    // toString runs on the exception itself, so its own override speaks; each
    // step is skipped when the one before it gave nothing.
    env->ExceptionClear();
    if (jclass object = env->FindClass("java/lang/Object")) {
        if (jmethodID toString = env->GetMethodID(object, "toString", "()Ljava/lang/String;")) {
            if (auto text = static_cast<jstring>(env->CallObjectMethod(exception, toString))) {
                const jni::JavaString message(env, text);
                if (!message.isNull()) logError(L"%s", message.get());
            }
        }
    }
    env->ExceptionClear();
    if (describe) {
        env->Throw(exception);
        env->ExceptionDescribe();
    }
    env->ExceptionClear();
    return false;
}

bool launchJvm(const ArgumentVector& words, bool destroyAfterMain) {
    logMessage(L"launching program");
    VmOptions options = buildVmOptions(buildLauncherPropertyOptions(launcherState().semaphoreName), words);

    logMessage(L"Creating JVM");
    CreateJavaVMFunction create = jvmSelection().createJavaVM;
    JavaVM* vm = nullptr;
    void* env = nullptr;
    if (!create || create(&vm, &env, options.initArgs()) != 0) {
        logMessage(L"could not initialize JVM");
        return false;
    }
    g_vm = vm;
    g_env = static_cast<JNIEnv*>(env);
    g_jvmCreated = true;
    logMessage(L"JVM created");

    if (getConfigInt(config::kSplashSettings) != 0) initAwtSplashConfig(g_env);
    if (programKind().installer) registerOwnNatives(g_env);
    setDeletionHelperPath(g_env);
    setModuleNameProperty(g_env);
    if (!callMain(g_env, words)) {
        logMessage(L"could not call main");
        return false;
    }
    if (destroyAfterMain) {
        logMessage(L"dest JVM");
        g_vm->DestroyJavaVM();
    }
    logMessage(L"launch done");
    return true;
}
