// Test double of a runtime's jvm.dll: exports the invocation entry
// JNI_CreateJavaVM under its undecorated name, so the launcher accepts a fake
// runtime home (<home>\bin\client\jvm.dll or <home>\bin\server\jvm.dll) in
// either bit width.  Creating a VM is refused with JNI_ERR.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
    (void)args;
    if (vm) *vm = nullptr;
    if (env) *env = nullptr;
    return JNI_ERR;
}
