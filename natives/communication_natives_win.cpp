// Natives of the Java side for named pipes and proxy detection.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

jlong JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, getInvalidHandle0)(JNIEnv*, jclass) {
    reportNotAvailable("Win32CommunicationBackend.getInvalidHandle0");
    return -1;
}

jlong JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, createListener0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32CommunicationBackend.createListener0");
    return -1;
}

jbyteArray JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, readDataBlock0)(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Win32CommunicationBackend.readDataBlock0");
    return nullptr;
}

jboolean JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, writeDataBlock0)(JNIEnv*, jclass, jlong, jbyteArray) {
    reportNotAvailable("Win32CommunicationBackend.writeDataBlock0");
    return JNI_FALSE;
}

jlong JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, connectClient0)(JNIEnv*, jclass, jstring) {
    reportNotAvailable("Win32CommunicationBackend.connectClient0");
    return -1;
}

jboolean JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, connectNamedPipe0)(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Win32CommunicationBackend.connectNamedPipe0");
    return JNI_FALSE;
}

void JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, disconnectNamedPipe0)(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Win32CommunicationBackend.disconnectNamedPipe0");
}

void JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, closeHandle0)(JNIEnv*, jclass, jlong) {
    reportNotAvailable("Win32CommunicationBackend.closeHandle0");
}

jboolean JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, isProcessAlive0)(JNIEnv*, jclass, jint) {
    reportNotAvailable("Win32CommunicationBackend.isProcessAlive0");
    return JNI_FALSE;
}

jint JNICALL NATIVE_FUNCTION(Win32CommunicationBackend, getCurrentProcessId0)(JNIEnv*, jclass) {
    reportNotAvailable("Win32CommunicationBackend.getCurrentProcessId0");
    return -1;
}

jint JNICALL NATIVE_FUNCTION(Win32Proxy, getIEConfig0)(JNIEnv*, jclass, jobjectArray) {
    reportNotAvailable("Win32Proxy.getIEConfig0");
    return 100000;
}

jint JNICALL NATIVE_FUNCTION(Win32Proxy, getDefaultConfig0)(JNIEnv*, jclass, jobjectArray) {
    reportNotAvailable("Win32Proxy.getDefaultConfig0");
    return 100000;
}

jlong JNICALL NATIVE_FUNCTION(Win32Proxy, getAutoProxyConfig0)(JNIEnv*, jclass, jobjectArray, jstring, jstring, jint,
                                                               jint, jboolean) {
    reportNotAvailable("Win32Proxy.getAutoProxyConfig0");
    return 100000;
}

jboolean JNICALL NATIVE_FUNCTION(Win32Proxy, loadFunctions0)(JNIEnv*, jclass) {
    reportNotAvailable("Win32Proxy.loadFunctions0");
    return JNI_FALSE;
}

}  // extern "C"
