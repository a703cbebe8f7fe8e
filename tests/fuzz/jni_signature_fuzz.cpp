// The JNI signature parser and the modified UTF-8 conversions of the JNI
// test double, which read the signatures and texts the launcher's natives
// hand to JNI.  Input: a signature (and text) as bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "tests/jni_double/environment_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string signature(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parameters;
    std::string result;
    if (jni_double::parseSignature(signature, parameters, result)) {
        // A parsed signature is exactly its pieces put together again.
        std::string joined = "(";
        for (const std::string& parameter : parameters) {
            FUZZ_CHECK(!parameter.empty() && parameter.back() != '[');
            joined += parameter;
        }
        FUZZ_CHECK(joined + ")" + result == signature);
    }

    // Modified UTF-8 read, written and read again gives the same text.
    const std::string text = signature.c_str();  // up to the first NUL, as JNI reads it
    const std::wstring wide = jni_double::fromModifiedUtf8(text.c_str());
    FUZZ_CHECK(jni_double::fromModifiedUtf8(jni_double::toModifiedUtf8(wide).c_str()) == wide);
    jni_double::toUtf8(wide);
    jni_double::quoted(wide);
    return 0;
}
