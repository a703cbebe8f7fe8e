// Registry key paths, decided without Windows: whether a sub-key path names a
// key below its root, and the split of a path into its parent and last
// element.  Text is UTF-16 as char16_t (wchar_t on Windows has the same
// layout), so the rules also build and run natively under the sanitizers.
#pragma once

#include <string>
#include <string_view>

namespace registry {

// Whether a sub-key path names a key below the root.  Null, empty and
// backslash-only paths name the root itself.
bool namesKeyBelowRoot(const char16_t* path);

// A sub-key path split at its last backslash (trailing backslashes ignored):
// "A\B\C" gives parent "A\B" and leaf "C"; "C" gives an empty parent.
struct KeyPathParts {
    std::u16string parent;
    std::u16string leaf;
};
KeyPathParts splitKeyPath(std::u16string_view path);

}  // namespace registry
