#include "launcher/path_ops.h"

bool isExecutableName(const std::string& path) {
    if (path.size() < 5) return false;
    return lowerAscii(path.substr(path.size() - 4)) == ".exe";
}

std::string shortNameFromInterpreter(const std::string& output, unsigned long exitCode) {
    if (exitCode != 0 || output.size() <= 5) return {};
    const std::size_t end = output.find_first_of("\r\n");
    if (end == std::string::npos) return {};
    return output.substr(0, end);
}
