// Natives of the Java side for registry keys and values.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"

extern "C" {

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_keyExists0(JNIEnv*, jclass, jint, jstring, jint) {
    reportNotAvailable("Registry.keyExists0");
    return JNI_FALSE;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_createKey0(JNIEnv*, jclass, jint, jstring, jint) {
    reportNotAvailable("Registry.createKey0");
    return JNI_FALSE;
}

jobject JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_getValue0(JNIEnv*, jclass, jint, jstring, jstring, jint) {
    reportNotAvailable("Registry.getValue0");
    return nullptr;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_setValue0(JNIEnv*, jclass, jint, jstring, jstring, jobject, jint, jint) {
    reportNotAvailable("Registry.setValue0");
    return JNI_FALSE;
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_deleteValue0(JNIEnv*, jclass, jint, jstring, jstring, jint) {
    reportNotAvailable("Registry.deleteValue0");
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_deleteKey0(JNIEnv*, jclass, jint, jstring, jboolean, jint) {
    reportNotAvailable("Registry.deleteKey0");
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_saveKey0(JNIEnv*, jclass, jint, jstring, jstring, jint) {
    reportNotAvailable("Registry.saveKey0");
    return JNI_FALSE;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_restoreKey0(JNIEnv*, jclass, jint, jstring, jstring, jint) {
    reportNotAvailable("Registry.restoreKey0");
    return JNI_FALSE;
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_enumSubKeys0(JNIEnv*, jclass, jint, jstring, jint) {
    reportNotAvailable("Registry.enumSubKeys0");
    return nullptr;
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_enumValues0(JNIEnv*, jclass, jint, jstring, jint) {
    reportNotAvailable("Registry.enumValues0");
    return nullptr;
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Registry_changeNotifyAssociations0(JNIEnv*, jclass) {
    reportNotAvailable("Registry.changeNotifyAssociations0");
}

}  // extern "C"
