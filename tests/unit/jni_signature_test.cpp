#include "natives/jni_signature.h"

#include <gtest/gtest.h>

namespace {

TEST(JniSignature, ArgumentBytesFollowTheStdcallRules) {
    struct Case {
        const char* signature;
        int bytes;
    } cases[] = {
        {"()V", 8},
        {"(IZ)Ljava/lang/String;", 16},
        {"(J)I", 16},
        {"([IZI)I", 20},
        {"(J[B)Z", 20},
        {"([J[D)V", 16},  // arrays are references, whatever their element type
        {"(Ljava/lang/String;ZZZZZILjava/lang/String;)Z", 40},
        {"(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZLjava/lang/String;"
         "[Ljava/lang/String;[Ljava/lang/String;I[Ljava/lang/String;[Z)[Ljava/lang/String;",
         68},
        {"(D)V", 16},
        {"", -1},
        {"(Ljava/lang/String", -1},
        {"(Q)V", -1},
        {"(I", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(argumentBytes(c.signature), c.bytes) << c.signature;
}

TEST(JniSignature, ExportNames) {
    EXPECT_EQ(exportName("FolderInfo", "getSpecialFolder0", "(IZ)Ljava/lang/String;", true),
              "_Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getSpecialFolder0@16");
    EXPECT_EQ(exportName("FolderInfo", "getSpecialFolder0", "(IZ)Ljava/lang/String;", false),
              "Java_com_tovrix_runtime_installer_platform_win32_FolderInfo_getSpecialFolder0");
    EXPECT_EQ(jniSymbol("Registry", "getValue0"), "Java_com_tovrix_runtime_installer_platform_win32_Registry_getValue0");
}

}  // namespace
