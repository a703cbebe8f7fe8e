// Natives of the Java side for special folders, file versions, drives and access-control entries.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

jboolean JNICALL NATIVE_FUNCTION(ACLHandling, addACE)(JNIEnv*, jclass, jstring, jboolean, jboolean, jboolean, jboolean,
                                                      jboolean, jint, jstring) {
    reportNotAvailable("ACLHandling.addACE");
    return JNI_FALSE;
}

jint JNICALL NATIVE_FUNCTION(FileVersion, compare0)(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("FileVersion.compare0");
    return 3;
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getSpecialFolder0)(JNIEnv*, jclass, jint, jboolean) {
    reportNotAvailable("FolderInfo.getSpecialFolder0");
    return nullptr;
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getPathFromRegistry0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getPathFromRegistry0");
    return nullptr;
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getWindowsDirectory0)(JNIEnv*, jclass) {
    reportNotAvailable("FolderInfo.getWindowsDirectory0");
    return nullptr;
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getSystemDirectory0)(JNIEnv*, jclass) {
    reportNotAvailable("FolderInfo.getSystemDirectory0");
    return nullptr;
}

jint JNICALL NATIVE_FUNCTION(FolderInfo, getDriveType0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getDriveType0");
    return 0;
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getShortPathName0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getShortPathName0");
    return nullptr;
}

jstring JNICALL NATIVE_FUNCTION(FolderInfo, getUniversalPathName0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("FolderInfo.getUniversalPathName0");
    return nullptr;
}

}  // extern "C"
