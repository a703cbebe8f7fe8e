// Natives of the Java side for processes, windows and open handles.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"

extern "C" {

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_reboot0(JNIEnv*, jclass) {
    reportNotAvailable("Misc.reboot0");
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getRunningModules0(JNIEnv*, jclass, jboolean) {
    reportNotAvailable("Misc.getRunningModules0");
    return nullptr;
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getEnvVarPairs0(JNIEnv*, jclass) {
    reportNotAvailable("Misc.getEnvVarPairs0");
    return nullptr;
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_broadcastSettingChange0(JNIEnv*, jclass) {
    reportNotAvailable("Misc.broadcastSettingChange0");
}

jlong JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getPhysicalMemory0(JNIEnv*, jclass) {
    reportNotAvailable("Misc.getPhysicalMemory0");
    return -1;
}

jlong JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getFreeDiskSpace0(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Misc.getFreeDiskSpace0");
    return -1;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_moveWithDelayUntilReboot0(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Misc.moveWithDelayUntilReboot0");
    return JNI_FALSE;
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_toFront0(JNIEnv*, jclass) {
    reportNotAvailable("Misc.toFront0");
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_terminateProcesses0(JNIEnv*, jclass, jintArray, jboolean, jint) {
    reportNotAvailable("Misc.terminateProcesses0");
    return -1;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getWindowTitle0(JNIEnv*, jclass, jint) {
    reportNotAvailable("Misc.getWindowTitle0");
    return nullptr;
}

void JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_setForegroundWindow0(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Misc.setForegroundWindow0");
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getTopLevelWindows0(JNIEnv*, jclass, jclass, jint) {
    reportNotAvailable("Misc.getTopLevelWindows0");
    return nullptr;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_Misc_getPidFromHandle0(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Misc.getPidFromHandle0");
    return 0;
}

jint JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32Exec_launch0(JNIEnv*, jclass, jstring, jstring) {
    reportNotAvailable("Win32Exec.launch0");
    return ERROR_CALL_NOT_IMPLEMENTED;
}

jobjectArray JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32Handle_list0(JNIEnv*, jclass) {
    reportNotAvailable("Win32Handle.list0");
    return nullptr;
}

jboolean JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32Handle_close0(JNIEnv*, jclass, jint) {
    reportNotAvailable("Win32Handle.close0");
    return JNI_FALSE;
}

jstring JNICALL Java_com_tovrix_runtime_installer_platform_win32_Win32Handle_getDeviceName0(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32Handle.getDeviceName0");
    return nullptr;
}

}  // extern "C"
