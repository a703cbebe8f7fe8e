// Natives of the Java side for shell links and task dialogs.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

jboolean JNICALL NATIVE_FUNCTION(ShellLink, createWide0)(JNIEnv*, jclass, jstring, jstring, jstring, jstring, jstring,
                                                         jboolean, jstring, jint) {
    reportNotAvailable("ShellLink.createWide0");
    return JNI_FALSE;
}

jboolean JNICALL NATIVE_FUNCTION(ShellLink, changeNotify0)(JNIEnv*, jclass, jbyteArray, jbyteArray) {
    reportNotAvailable("ShellLink.changeNotify0");
    return JNI_FALSE;
}

jboolean JNICALL NATIVE_FUNCTION(ShellLink, initialize0)(JNIEnv*, jclass) {
    reportNotAvailable("ShellLink.initialize0");
    return JNI_FALSE;
}

jboolean JNICALL NATIVE_FUNCTION(ShellLink, uninitialize)(JNIEnv*, jclass) {
    reportNotAvailable("ShellLink.uninitialize");
    return JNI_FALSE;
}

jint JNICALL NATIVE_FUNCTION(VistaTaskDialog, show0)(JNIEnv*, jclass, jlong, jstring, jstring, jstring, jint, jint,
                                                     jint, jstring, jobjectArray, jint) {
    reportNotAvailable("VistaTaskDialog.show0");
    return 0;
}

}  // extern "C"
