// Natives of the Java side for local users and groups, elevation and account rights.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"

extern "C" {

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_isMemberOfGroup0(JNIEnv*, jclass, jint) {
    reportNotAvailable("Win32UserInfo.isMemberOfGroup0");
    return JNI_FALSE;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_executeElevated0(JNIEnv*, jclass, jstring, jstring, jstring, jint) {
    reportNotAvailable("Win32UserInfo.executeElevated0");
    return JNI_FALSE;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_getElevationType0(JNIEnv*, jclass) {
    reportNotAvailable("Win32UserInfo.getElevationType0");
    return -1;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_addUser0(JNIEnv*, jclass, jstring, jstring, jstring, jstring, jstring, jboolean, jboolean) {
    reportNotAvailable("Win32UserInfo.addUser0");
    return nullptr;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_deleteUser0(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32UserInfo.deleteUser0");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_deleteLocalGroup0(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32UserInfo.deleteLocalGroup0");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_getAccountName0(JNIEnv*, jclass, jstring, jboolean) {
    reportNotAvailable("Win32UserInfo.getAccountName0");
    return nullptr;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_getUserProfileDirectory0(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32UserInfo.getUserProfileDirectory0");
    return nullptr;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_getUserSid0(JNIEnv*, jclass) {
    reportNotAvailable("Win32UserInfo.getUserSid0");
    return nullptr;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32UserInfo_setLsaAccountRight0(JNIEnv*, jclass, jstring, jstring, jboolean) {
    reportNotAvailable("Win32UserInfo.setLsaAccountRight0");
    return JNI_FALSE;
}

}  // extern "C"
