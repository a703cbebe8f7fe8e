#include "jvm/version.h"

#include <algorithm>
#include <limits>

namespace {

bool isSeparator(char c) { return c == '.' || c == '_' || c == '-' || c == '+'; }

std::uint64_t leadingNumber(const std::string& text, std::size_t begin, std::size_t end) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (std::size_t i = begin; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (kMax - digit) / 10) return kMax;
        value = value * 10 + digit;
    }
    return value;
}

// -1, 0 or 1 for a piece of a candidate against a piece of a limit.
int comparePiece(std::uint64_t candidate, std::uint64_t limit) {
    return candidate < limit ? -1 : (candidate > limit ? 1 : 0);
}

// Walks the limit's pieces; `direction` is 1 for a minimum (greater passes)
// and -1 for a maximum (smaller passes).  With `stopWhenCandidateEnds` a
// candidate that runs out of pieces passes (the coarse key-name check);
// otherwise its missing pieces count as 0.
bool passesLimit(const VersionNumbers& candidate, const VersionNumbers& limit, int direction,
                 bool stopWhenCandidateEnds) {
    for (std::size_t i = 0; i < limit.size(); ++i) {
        if (i >= candidate.size() && stopWhenCandidateEnds) return true;
        const std::uint64_t piece = i < candidate.size() ? candidate[i] : 0;
        const int order = comparePiece(piece, limit[i]) * direction;
        if (order > 0) return true;
        if (order < 0) return false;
    }
    return true;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

VersionNumbers parseVersion(const std::string& version) {
    VersionNumbers numbers;
    std::size_t i = 0;
    while (i < version.size()) {
        while (i < version.size() && isSeparator(version[i])) ++i;
        if (i == version.size()) break;
        std::size_t end = i;
        while (end < version.size() && !isSeparator(version[end])) ++end;
        numbers.push_back(leadingNumber(version, i, end));
        i = end;
    }
    return numbers;
}

bool isPreReleaseVersion(const std::string& version) {
    return version.find("beta") != std::string::npos || version.find("ea") != std::string::npos ||
           version.find("rc") != std::string::npos;
}

VersionRange makeVersionRange(const std::string& minimum, const std::string& maximum) {
    return VersionRange{minimum, maximum, parseVersion(minimum), parseVersion(maximum)};
}

RangeCheck checkVersionRange(const std::string& version, const VersionRange& range, bool allowPreRelease) {
    if (!allowPreRelease && isPreReleaseVersion(version)) return RangeCheck::PreRelease;
    const VersionNumbers numbers = parseVersion(version);
    if (!passesLimit(numbers, range.minimum, 1, false)) return RangeCheck::BelowMinimum;
    if (!passesLimit(numbers, range.maximum, -1, false)) return RangeCheck::AboveMaximum;
    return RangeCheck::Pass;
}

bool keyNameInRange(const std::string& keyName, const VersionRange& range) {
    const VersionNumbers numbers = parseVersion(keyName);
    return passesLimit(numbers, range.minimum, 1, true) && passesLimit(numbers, range.maximum, -1, true);
}

bool versionGreater(const std::string& a, const std::string& b) {
    const VersionNumbers left = parseVersion(a);
    const VersionNumbers right = parseVersion(b);
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (i >= right.size()) return true;
        if (left[i] != right[i]) return left[i] > right[i];
    }
    return false;
}

std::optional<std::string> parseVersionLine(const std::string& firstLine) {
    static const std::string kPrefixes[] = {"java version \"", "openjdk version \""};
    const std::string* matched = nullptr;
    for (const std::string& prefix : kPrefixes)
        if (startsWith(firstLine, prefix)) matched = &prefix;
    if (!matched) return std::nullopt;
    const std::string rest = firstLine.substr(matched->size());
    std::string version;
    const std::size_t quote = rest.find('"');
    if (quote != std::string::npos) {
        version = rest.substr(0, quote);
    } else if (rest.size() > 2) {
        version = rest.substr(0, rest.size() - 2);
    }
    if (version.empty()) return std::nullopt;
    return version;
}

std::string firstLineOf(const std::string& text, std::size_t limit) {
    const std::string head = text.substr(0, limit);
    const std::size_t newline = head.find('\n');
    return newline == std::string::npos ? head : head.substr(0, newline + 1);
}

std::string versionLineOf(const std::string& output, std::size_t limit) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        const std::string line = output.substr(start, end - start);
        const bool notice = startsWith(line, "Picked up ") || startsWith(line, "NOTE: Picked up ") ||
                            line.find(" VM warning: ") != std::string::npos;
        if (!notice) return firstLineOf(line, limit);
        start = end;
    }
    return std::string();
}

std::vector<std::string> vendorSubkeyOrder(std::vector<std::string> names, const VersionRange& range) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) { return !keyNameInRange(name, range); }),
                names.end());
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        // As unsigned bytes, the way a C string comparison orders them.
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    });
    std::reverse(names.begin(), names.end());
    return names;
}

bool isTrustedCachedVersion(const std::string& version) {
    return version != "1.0.0" && version != "1.5." && version != "1.6." && version != "1.7.";
}
