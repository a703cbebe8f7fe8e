// The product description a build starts from, read from a JSON manifest and
// checked completely before any output is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace packer {

struct PayloadEntry {
    std::string name;  // 8-bit name as it appears in the name list (id 2003)
    // Exactly one of the two: a file to stream, or literal bytes.
    std::optional<std::filesystem::path> source;
    std::string content;
};

struct LocaleBlock {
    std::string name;  // 8-bit locale name, e.g. "de" or "pt_BR"
    std::map<std::int32_t, std::u16string> messages;
};

struct InstallerPlan {
    std::int32_t integrityFlag = 1;
    std::map<std::int32_t, std::string> config;  // 8-bit texts
    std::map<std::int32_t, std::u16string> messages;
    std::vector<LocaleBlock> locales;  // in file order
    std::vector<PayloadEntry> payload;
    std::optional<std::filesystem::path> javaData;
    std::uint64_t trailingZeros = 0;
};

// Builds the plan of an installer from a parsed manifest.  Relative source paths are taken
// relative to baseDir.  The default messages are applied (unless turned off),
// and ids 2002/2003 are derived from the payload list unless the manifest sets
// them.  Throws PackError naming the offending field.
InstallerPlan planFromManifest(const nlohmann::json& manifest, const std::filesystem::path& baseDir);

// Reads and checks the manifest file; errors are prefixed with its path.
InstallerPlan loadManifest(const std::filesystem::path& path);

}  // namespace packer
