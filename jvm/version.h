// Java version arithmetic: version strings split into number lists, the range
// check a candidate runtime must pass, the coarse check of registry key names,
// the greater-than used to pick between candidates, and the first line that
// "java -version" prints.  Pure functions, no windows.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The pieces of a version string, each by its leading decimal digits.
using VersionNumbers = std::vector<std::uint64_t>;

// Splits at every ".", "_", "-" and "+" (a run of separators counts as one, so
// no empty pieces arise); a piece without leading digits counts as 0, a piece
// whose digits overflow saturates.  "1.8.0_191-b12" gives 1, 8, 0, 191, 0.
VersionNumbers parseVersion(const std::string& version);

// True when the text holds "beta", "ea" or "rc" anywhere (case-sensitive).
bool isPreReleaseVersion(const std::string& version);

// The configured version range; an empty list is no limit.
struct VersionRange {
    std::string minimumText;
    std::string maximumText;
    VersionNumbers minimum;
    VersionNumbers maximum;
};
VersionRange makeVersionRange(const std::string& minimum, const std::string& maximum);

enum class RangeCheck { Pass, PreRelease, BelowMinimum, AboveMaximum };

// Range check of a version string.  Pre-release versions are rejected unless
// allowed.  Against the minimum, the first piece where the version differs
// decides (a missing piece of the version counts as 0) and equality passes;
// against the maximum likewise with the directions swapped, so a maximum of
// 1.8 admits 1.8.0_191.
RangeCheck checkVersionRange(const std::string& version, const VersionRange& range, bool allowPreRelease);

// The same walks for a registry key name, except that a walk passes as soon as
// the key name has no more pieces: the key 1.8 passes a minimum of 1.8.0_100.
// No pre-release rule.
bool keyNameInRange(const std::string& keyName, const VersionRange& range);

// A over B: the first differing piece decides; B lacking a piece that A has
// makes A greater; ties are not greater.
bool versionGreater(const std::string& a, const std::string& b);

// At most this many characters of the first line of "java -version" are read.
constexpr std::size_t kVersionLineLimit = 99;

// The version from the first line of "java -version" as read (including its
// line end when that lies within the limit): the line must begin with
// `java version "` or `openjdk version "`; the version runs up to the next
// double quote or, without one, to the end of the line less its last two
// characters (the line end).  Nothing for any other line or an empty version.
std::optional<std::string> parseVersionLine(const std::string& firstLine);

// The first line of a text as a line reader takes it: at most `limit` bytes,
// ending after the first line feed.
std::string firstLineOf(const std::string& text, std::size_t limit);

// The line of "java -version" output that carries the version: the first line
// that is not a notice the VM prints before it ("Picked up JAVA_TOOL_OPTIONS:
// ...", "NOTE: Picked up JDK_JAVA_OPTIONS: ...", "... VM warning: ...").
// Such notices would otherwise make every runtime unusable for a user who
// has one of those variables set.  At most `limit` bytes of the line.
std::string versionLineOf(const std::string& output, std::size_t limit);

// Vendor registry subkeys in the order they are tried: those whose names pass
// the coarse range check, sorted ascending as byte strings and taken from the
// greatest (so 9.0.4, 11 and 1.8 are tried in that order).
std::vector<std::string> vendorSubkeyOrder(std::vector<std::string> names, const VersionRange& range);

// Whether a version read from the located-JVM cache may be used: not the mark
// of a failed run ("1.0.0") and none of the short old versions "1.5.", "1.6.",
// "1.7." that are re-probed whenever they turn up.
bool isTrustedCachedVersion(const std::string& version);
