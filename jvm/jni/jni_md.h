/* Machine-dependent JNI definitions for Windows (both bit widths), used with
 * the host JDK's jni.h: JNI functions use the stdcall convention on 32-bit
 * Windows (the only convention on 64-bit), jint is 32 bits and jlong 64. */
#ifndef LAUNCHER_JNI_MD_H
#define LAUNCHER_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
