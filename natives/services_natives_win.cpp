// Natives of the Java side for Windows services.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

jint JNICALL NATIVE_FUNCTION(Win32Services, installService0)(JNIEnv*, jclass, jstring, jstring, jstring) {
    reportNotAvailable("Win32Services.installService0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, changeServiceConfig0)(JNIEnv*, jclass, jstring, jstring, jstring, jint,
                                                                  jint, jstring, jstring, jstring, jstring) {
    reportNotAvailable("Win32Services.changeServiceConfig0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, setRestartServiceConfig0)(JNIEnv*, jclass, jstring, jboolean, jint, jint,
                                                                      jint) {
    reportNotAvailable("Win32Services.setRestartServiceConfig0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, setDelayedAutoStart0)(JNIEnv*, jclass, jstring, jboolean) {
    reportNotAvailable("Win32Services.setDelayedAutoStart0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, stopService0)(JNIEnv*, jclass, jstring, jint) {
    reportNotAvailable("Win32Services.stopService0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, startService0)(JNIEnv*, jclass, jstring, jobjectArray) {
    reportNotAvailable("Win32Services.startService0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, uninstallService0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32Services.uninstallService0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, queryStatus0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32Services.queryStatus0");
    return 5000;
}

jint JNICALL NATIVE_FUNCTION(Win32Services, getStartType0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32Services.getStartType0");
    return 5000;
}

jstring JNICALL NATIVE_FUNCTION(Win32Services, getServiceBinary0)(JNIEnv* env, jclass, jstring) {
    reportNotAvailable("Win32Services.getServiceBinary0");
    return jni::newString(env, L" 5000");
}

}  // extern "C"
