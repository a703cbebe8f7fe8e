#include "tools/packer/manifest.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "launcher/block_format.h"
#include "launcher/config_ids.h"
#include "tools/packer/default_messages.h"
#include "tools/packer/errors.h"
#include "tools/packer/text.h"

namespace packer {
namespace {

using nlohmann::json;

// How an error names a value of the wrong type: scalars by value, the rest by kind.
std::string describeValue(const json& value) {
    if (value.is_object()) return "an object";
    if (value.is_array()) return "an array";
    if (value.is_string()) return "a string";
    return value.dump();
}

[[noreturn]] void wrongType(const std::string& field, const char* expected, const json& value) {
    throw PackError(field + ": expected " + expected + ", got " + describeValue(value));
}

const json& requireType(const json& value, json::value_t type, const std::string& field, const char* expected) {
    if (value.type() != type) wrongType(field, expected, value);
    return value;
}

// Rejects keys of object that are not in allowed, naming the first one.
void checkKeys(const json& object, std::initializer_list<const char*> allowed, const std::string& where) {
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : allowed) known = known || item.key() == key;
        if (!known) throw PackError(where + "unknown key \"" + item.key() + "\"");
    }
}

std::int32_t parseId(const std::string& key, const std::string& field) {
    std::size_t digits = key.size() > 0 && key[0] == '-' ? 1 : 0;
    bool valid = key.size() > digits && key.size() - digits <= 10;
    for (std::size_t i = digits; valid && i < key.size(); ++i) valid = key[i] >= '0' && key[i] <= '9';
    if (valid) {
        long long value = std::stoll(key);
        if (value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(value);
    }
    throw PackError(field + ": id \"" + key + "\" is not a 32-bit decimal integer");
}

bool fitsInt32(const json& value) {
    if (value.is_number_unsigned()) return value.get<std::uint64_t>() <= std::numeric_limits<std::int32_t>::max();
    if (!value.is_number_integer()) return false;
    std::int64_t number = value.get<std::int64_t>();
    return number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max();
}

std::string idField(const std::string& section, const std::string& key) { return section + "[\"" + key + "\"]"; }

// A text map {"id": "text", ...} whose texts become UTF-16.
std::map<std::int32_t, std::u16string> parseMessages(const json& object, const std::string& section) {
    requireType(object, json::value_t::object, section, "an object of id -> text");
    std::map<std::int32_t, std::u16string> messages;
    for (const auto& item : object.items()) {
        const std::string field = idField(section, item.key());
        std::int32_t id = parseId(item.key(), field);
        if (!item.value().is_string()) wrongType(field, "a string", item.value());
        messages[id] = utf8ToUtf16(item.value().get_ref<const std::string&>(), field);
    }
    return messages;
}

std::map<std::int32_t, std::string> parseConfig(const json& object) {
    requireType(object, json::value_t::object, "config", "an object of id -> text");
    std::map<std::int32_t, std::string> config;
    for (const auto& item : object.items()) {
        const std::string field = idField("config", item.key());
        std::int32_t id = parseId(item.key(), field);
        const json& value = item.value();
        if (value.is_string())
            config[id] = utf8ToLatin1(value.get_ref<const std::string&>(), field);
        else if (value.is_number_integer())
            config[id] = value.dump();  // decimal text, as the launcher reads integers
        else
            wrongType(field, "a string or an integer", value);
    }
    return config;
}

std::vector<LocaleBlock> parseLocales(const json& array) {
    requireType(array, json::value_t::array, "locales", "an array of {\"name\", \"messages\"} objects");
    std::vector<LocaleBlock> locales;
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string field = "locales[" + std::to_string(i) + "]";
        const json& entry = requireType(array[i], json::value_t::object, field, "an object");
        checkKeys(entry, {"name", "messages"}, field + ": ");
        if (!entry.contains("name")) throw PackError(field + ": missing \"name\"");
        const json& name = requireType(entry["name"], json::value_t::string, field + ".name", "a string");
        LocaleBlock block;
        block.name = utf8ToLatin1(name.get_ref<const std::string&>(), field + ".name");
        if (entry.contains("messages")) block.messages = parseMessages(entry["messages"], field + ".messages");
        locales.push_back(std::move(block));
    }
    return locales;
}

std::filesystem::path resolvePath(const json& value, const std::string& field, const std::filesystem::path& baseDir) {
    const std::string& text =
        requireType(value, json::value_t::string, field, "a path string").get_ref<const std::string&>();
    if (text.empty()) throw PackError(field + ": empty path");
    std::filesystem::path path(text);
    return path.is_absolute() ? path : baseDir / path;
}

std::vector<PayloadEntry> parsePayload(const json& array, const std::filesystem::path& baseDir) {
    requireType(array, json::value_t::array, "payload", "an array of {\"name\", \"source\" or \"content\"} objects");
    std::vector<PayloadEntry> payload;
    for (std::size_t i = 0; i < array.size(); ++i) {
        const std::string field = "payload[" + std::to_string(i) + "]";
        const json& entry = requireType(array[i], json::value_t::object, field, "an object");
        checkKeys(entry, {"name", "source", "content"}, field + ": ");
        if (!entry.contains("name")) throw PackError(field + ": missing \"name\"");
        PayloadEntry file;
        const json& name = requireType(entry["name"], json::value_t::string, field + ".name", "a string");
        file.name = utf8ToLatin1(name.get_ref<const std::string&>(), field + ".name");
        if (file.name.empty() || file.name.find(';') != std::string::npos)
            throw PackError(field + ".name: must be non-empty and must not contain ';' (the name list separator)");
        if (entry.contains("source") == entry.contains("content"))
            throw PackError(field + ": needs exactly one of \"source\" and \"content\"");
        if (entry.contains("source"))
            file.source = resolvePath(entry["source"], field + ".source", baseDir);
        else
            file.content =
                requireType(entry["content"], json::value_t::string, field + ".content", "a string").get<std::string>();
        payload.push_back(std::move(file));
    }
    return payload;
}

}  // namespace

InstallerPlan planFromManifest(const json& manifest, const std::filesystem::path& baseDir) {
    requireType(manifest, json::value_t::object, "manifest", "a JSON object");
    checkKeys(manifest,
              {"integrity_check", "config", "messages", "default_messages", "locales", "payload", "java_data",
               "trailing_zeros"},
              "");

    InstallerPlan plan;
    if (manifest.contains("integrity_check")) {
        const json& flag = manifest["integrity_check"];
        if (flag.is_boolean())
            plan.integrityFlag = flag.get<bool>() ? 1 : 0;
        else if (fitsInt32(flag))
            plan.integrityFlag = flag.get<std::int32_t>();
        else
            wrongType("integrity_check", "true, false or a 32-bit integer", flag);
    }

    bool withDefaults = true;
    if (manifest.contains("default_messages"))
        withDefaults =
            requireType(manifest["default_messages"], json::value_t::boolean, "default_messages", "true or false")
                .get<bool>();
    if (withDefaults)
        for (const auto& [id, text] : defaultMessages()) plan.messages[id] = utf8ToUtf16(text, "default message");
    if (manifest.contains("messages"))
        for (auto& [id, text] : parseMessages(manifest["messages"], "messages")) plan.messages[id] = std::move(text);

    if (manifest.contains("config")) plan.config = parseConfig(manifest["config"]);
    if (manifest.contains("locales")) plan.locales = parseLocales(manifest["locales"]);
    if (manifest.contains("payload")) plan.payload = parsePayload(manifest["payload"], baseDir);
    if (manifest.contains("java_data")) plan.javaData = resolvePath(manifest["java_data"], "java_data", baseDir);
    if (manifest.contains("trailing_zeros")) {
        const json& zeros = manifest["trailing_zeros"];
        if (!zeros.is_number_unsigned()) wrongType("trailing_zeros", "a non-negative integer", zeros);
        plan.trailingZeros = zeros.get<std::uint64_t>();
    }

    // The payload count and name list follow the payload unless the manifest
    // gives them (tests use that to make the two disagree on purpose).
    if (plan.config.count(config::kPayloadCount) == 0)
        plan.config[config::kPayloadCount] = std::to_string(plan.payload.size());
    if (plan.config.count(config::kPayloadNames) == 0) {
        std::string names;
        for (const PayloadEntry& file : plan.payload) names += file.name + ";";
        plan.config[config::kPayloadNames] = names;
    }
    return plan;
}

InstallerPlan loadManifest(const std::filesystem::path& path) {
    const std::string prefix = path.string() + ": ";
    std::ifstream stream(path, std::ios::binary);
    if (!stream) throw PackError(prefix + "cannot open the manifest: " + std::strerror(errno));
    json manifest;
    try {
        manifest = json::parse(stream, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/true);
    } catch (const json::exception& error) {
        // Drop nlohmann's "[json.exception.parse_error.101] " tag; keep the position.
        std::string what = error.what();
        std::size_t tag = what.find("] ");
        throw PackError(prefix + "malformed JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2)));
    }
    try {
        return planFromManifest(manifest, path.parent_path());
    } catch (const PackError& error) {
        throw PackError(prefix + error.what());
    }
}

}  // namespace packer
