// Natives of the Java side for shell links and task dialogs.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"

extern "C" {

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_ShellLink_createWide0(JNIEnv*, jclass, jstring, jstring, jstring, jstring, jstring, jboolean, jstring, jint) {
    reportNotAvailable("ShellLink.createWide0");
    return JNI_FALSE;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_ShellLink_changeNotify0(JNIEnv*, jclass, jbyteArray, jbyteArray) {
    reportNotAvailable("ShellLink.changeNotify0");
    return JNI_FALSE;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_ShellLink_initialize0(JNIEnv*, jclass) {
    reportNotAvailable("ShellLink.initialize0");
    return JNI_FALSE;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_ShellLink_uninitialize(JNIEnv*, jclass) {
    reportNotAvailable("ShellLink.uninitialize");
    return JNI_FALSE;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_VistaTaskDialog_show0(JNIEnv*, jclass, jlong, jstring, jstring, jstring, jint, jint, jint, jstring, jobjectArray, jint) {
    reportNotAvailable("VistaTaskDialog.show0");
    return 0;
}

}  // extern "C"
