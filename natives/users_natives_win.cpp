// Natives of the Java side for local users and groups, elevation and account rights.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

jboolean JNICALL NATIVE_FUNCTION(Win32UserInfo, isMemberOfGroup0)(JNIEnv*, jclass, jint) {
    reportNotAvailable("Win32UserInfo.isMemberOfGroup0");
    return JNI_FALSE;
}

jboolean JNICALL NATIVE_FUNCTION(Win32UserInfo, executeElevated0)(JNIEnv*, jclass, jstring, jstring, jstring, jint) {
    reportNotAvailable("Win32UserInfo.executeElevated0");
    return JNI_FALSE;
}

jint JNICALL NATIVE_FUNCTION(Win32UserInfo, getElevationType0)(JNIEnv*, jclass) {
    reportNotAvailable("Win32UserInfo.getElevationType0");
    return -1;
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, addUser0)(JNIEnv*, jclass, jstring, jstring, jstring, jstring, jstring,
                                                         jboolean, jboolean) {
    reportNotAvailable("Win32UserInfo.addUser0");
    return nullptr;
}

jint JNICALL NATIVE_FUNCTION(Win32UserInfo, deleteUser0)(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32UserInfo.deleteUser0");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

jint JNICALL NATIVE_FUNCTION(Win32UserInfo, deleteLocalGroup0)(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32UserInfo.deleteLocalGroup0");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, getAccountName0)(JNIEnv*, jclass, jstring, jboolean) {
    reportNotAvailable("Win32UserInfo.getAccountName0");
    return nullptr;
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, getUserProfileDirectory0)(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32UserInfo.getUserProfileDirectory0");
    return nullptr;
}

jstring JNICALL NATIVE_FUNCTION(Win32UserInfo, getUserSid0)(JNIEnv*, jclass) {
    reportNotAvailable("Win32UserInfo.getUserSid0");
    return nullptr;
}

jboolean JNICALL NATIVE_FUNCTION(Win32UserInfo, setLsaAccountRight0)(JNIEnv*, jclass, jstring, jstring, jboolean) {
    reportNotAvailable("Win32UserInfo.setLsaAccountRight0");
    return JNI_FALSE;
}

}  // extern "C"
