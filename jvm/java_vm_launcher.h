// Starting the Java side inside the launcher's own process: the VM is created
// with the assembled options, the Java side is prepared (splash settings,
// natives, the deletion helper's path, the module name) and the launcher
// class's main runs on the calling thread, which becomes the VM's main thread.
#pragma once

#include <jni.h>

#include "launcher/command_line.h"

// Creates the VM and calls main with the command-line words; with
// `destroyAfterMain` the VM is destroyed once main has returned (which waits
// for the last non-daemon Java thread).  False when the VM could not be
// created, main could not be called or ended with an exception.
bool launchJvm(const ArgumentVector& words, bool destroyAfterMain);

// True when no Java exception is pending; otherwise logs it (its toString),
// lets the VM describe it when `describe` is set, clears it and returns false.
bool reportJavaException(JNIEnv* env, bool describe);
