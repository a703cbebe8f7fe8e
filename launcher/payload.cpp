#include "launcher/payload.h"

std::vector<std::string> payloadNamesToExtract(const std::string& list, int count) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < list.size() && static_cast<int>(names.size()) < count) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end == start) break;  // an empty name ends the list
        names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool isSafePayloadName(const std::string& name) {
    if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
    if (name.find(':') != std::string::npos) return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        const std::string component = name.substr(start, end - start);
        // Windows ignores trailing dots and blanks, so ".. " and "..." reach the parent too.
        const std::size_t meaningful = component.find_last_not_of(". ");
        if (!component.empty() && meaningful == std::string::npos && component.find("..") != std::string::npos)
            return false;
        start = end + 1;
    }
    return true;
}

std::string payloadDirectoryPart(const std::string& name) {
    const std::size_t slash = name.find('\\');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

bool isPackName(const std::string& name) { return name.size() >= 5 && name.compare(name.size() - 5, 5, ".pack") == 0; }
