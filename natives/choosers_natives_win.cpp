// Natives of the Java side for the file chooser and the object picker.
//
// Not built yet: each one says so on standard output and returns its
// failure value, so the Java side never mistakes it for a success.
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"

extern "C" {

jobjectArray JNICALL NATIVE_FUNCTION(ObjectPicker, show0)(JNIEnv*, jclass, jboolean, jboolean, jboolean, jboolean,
                                                          jboolean) {
    reportNotAvailable("ObjectPicker.show0");
    return nullptr;
}

void JNICALL NATIVE_FUNCTION(VistaFileChooser, initialize0)(JNIEnv*, jclass) {
    reportNotAvailable("VistaFileChooser.initialize0");
}

jobjectArray JNICALL NATIVE_FUNCTION(VistaFileChooser, displayDialog0)(JNIEnv*, jclass, jlong, jstring, jstring,
                                                                       jstring, jstring, jint, jint, jboolean, jstring,
                                                                       jobjectArray, jobjectArray, jint, jobjectArray,
                                                                       jbooleanArray) {
    reportNotAvailable("VistaFileChooser.displayDialog0");
    return nullptr;
}

}  // extern "C"
