// Natives of the Java side for special folders, file versions, drives and access-control entries.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"

extern "C" {

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_ACLHandling_addACE(JNIEnv*, jclass, jstring, jboolean, jboolean, jboolean, jboolean, jboolean, jint, jstring) {
    reportNotAvailable("ACLHandling.addACE");
    return JNI_FALSE;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_FileVersion_compare0(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("FileVersion.compare0");
    return 3;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getSpecialFolder0(JNIEnv*, jclass, jint, jboolean) {
    reportNotAvailable("FolderInfo.getSpecialFolder0");
    return nullptr;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getPathFromRegistry0(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getPathFromRegistry0");
    return nullptr;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getWindowsDirectory0(JNIEnv*, jclass) {
    reportNotAvailable("FolderInfo.getWindowsDirectory0");
    return nullptr;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getSystemDirectory0(JNIEnv*, jclass) {
    reportNotAvailable("FolderInfo.getSystemDirectory0");
    return nullptr;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getDriveType0(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getDriveType0");
    return 0;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getShortPathName0(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getShortPathName0");
    return nullptr;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getUniversalPathName0(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getUniversalPathName0");
    return nullptr;
}

}  // extern "C"
