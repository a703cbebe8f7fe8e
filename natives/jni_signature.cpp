#include "natives/jni_signature.h"

int argumentBytes(const std::string& signature) {
    if (signature.empty() || signature[0] != '(') return -1;
    int bytes = 8;
    std::size_t i = 1;
    while (i < signature.size() && signature[i] != ')') {
        const bool array = signature[i] == '[';
        while (i < signature.size() && signature[i] == '[') ++i;
        if (i >= signature.size()) return -1;
        const char kind = signature[i];
        if (kind == 'L') {
            const std::size_t end = signature.find(';', i);
            if (end == std::string::npos) return -1;
            i = end + 1;
        } else if (std::string("ZBCSIJFD").find(kind) != std::string::npos) {
            ++i;
        } else {
            return -1;
        }
        bytes += (!array && (kind == 'J' || kind == 'D')) ? 8 : 4;
    }
    if (i >= signature.size()) return -1;
    return bytes;
}

std::string jniSymbol(const std::string& className, const std::string& method) {
    std::string symbol = std::string("Java_") + kNativePackage + "/" + className + "_" + method;
    for (char& c : symbol)
        if (c == '/') c = '_';
    return symbol;
}

std::string exportName(const std::string& className, const std::string& method, const std::string& signature,
                       bool decorated) {
    const std::string symbol = jniSymbol(className, method);
    if (!decorated) return symbol;
    return "_" + symbol + "@" + std::to_string(argumentBytes(signature));
}
