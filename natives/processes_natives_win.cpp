// Natives of the Java side for processes, windows and open handles.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

void JNICALL NATIVE_FUNCTION(Misc, reboot0)(JNIEnv*, jclass) { reportNotAvailable("Misc.reboot0"); }

jobjectArray JNICALL NATIVE_FUNCTION(Misc, getRunningModules0)(JNIEnv*, jclass, jboolean) {
    reportNotAvailable("Misc.getRunningModules0");
    return nullptr;
}

jobjectArray JNICALL NATIVE_FUNCTION(Misc, getEnvVarPairs0)(JNIEnv*, jclass) {
    reportNotAvailable("Misc.getEnvVarPairs0");
    return nullptr;
}

void JNICALL NATIVE_FUNCTION(Misc, broadcastSettingChange0)(JNIEnv*, jclass) {
    reportNotAvailable("Misc.broadcastSettingChange0");
}

jlong JNICALL NATIVE_FUNCTION(Misc, getPhysicalMemory0)(JNIEnv*, jclass) {
    reportNotAvailable("Misc.getPhysicalMemory0");
    return -1;
}

jlong JNICALL NATIVE_FUNCTION(Misc, getFreeDiskSpace0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Misc.getFreeDiskSpace0");
    return -1;
}

jboolean JNICALL NATIVE_FUNCTION(Misc, moveWithDelayUntilReboot0)(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Misc.moveWithDelayUntilReboot0");
    return JNI_FALSE;
}

void JNICALL NATIVE_FUNCTION(Misc, toFront0)(JNIEnv*, jclass) { reportNotAvailable("Misc.toFront0"); }

jint JNICALL NATIVE_FUNCTION(Misc, terminateProcesses0)(JNIEnv*, jclass, jintArray, jboolean, jint) {
    reportNotAvailable("Misc.terminateProcesses0");
    return -1;
}

jstring JNICALL NATIVE_FUNCTION(Misc, getWindowTitle0)(JNIEnv*, jclass, jint) {
    reportNotAvailable("Misc.getWindowTitle0");
    return nullptr;
}

void JNICALL NATIVE_FUNCTION(Misc, setForegroundWindow0)(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Misc.setForegroundWindow0");
}

jobjectArray JNICALL NATIVE_FUNCTION(Misc, getTopLevelWindows0)(JNIEnv*, jclass, jclass, jint) {
    reportNotAvailable("Misc.getTopLevelWindows0");
    return nullptr;
}

jint JNICALL NATIVE_FUNCTION(Misc, getPidFromHandle0)(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Misc.getPidFromHandle0");
    return 0;
}

jint JNICALL NATIVE_FUNCTION(Win32Exec, launch0)(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32Exec.launch0");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

jobjectArray JNICALL NATIVE_FUNCTION(Win32Handle, list0)(JNIEnv*, jclass) {
    reportNotAvailable("Win32Handle.list0");
    return nullptr;
}

jboolean JNICALL NATIVE_FUNCTION(Win32Handle, close0)(JNIEnv*, jclass, jint) {
    reportNotAvailable("Win32Handle.close0");
    return JNI_FALSE;
}

jstring JNICALL NATIVE_FUNCTION(Win32Handle, getDeviceName0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32Handle.getDeviceName0");
    return nullptr;
}

}  // extern "C"
