#include "launcher/registry_path.h"

namespace registry {

bool namesKeyBelowRoot(const char16_t* path) {
    if (!path) return false;
    for (; *path; ++path)
        if (*path != u'\\') return true;
    return false;
}

KeyPathParts splitKeyPath(std::u16string_view path) {
    const std::size_t end = path.find_last_not_of(u'\\');
    if (end == std::u16string_view::npos) return {};
    path = path.substr(0, end + 1);
    const std::size_t slash = path.rfind(u'\\');
    if (slash == std::u16string_view::npos) return {std::u16string(), std::u16string(path)};
    return {std::u16string(path.substr(0, slash)), std::u16string(path.substr(slash + 1))};
}

}  // namespace registry
