// The configuration store: numbered settings (8-bit text) and numbered message
// texts (UTF-16) read once from the installer's own file, read-only afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "launcher/config_ids.h"
#include "launcher/text.h"

struct ConfigStore {
    std::map<std::int32_t, std::string> values;
    std::map<std::int32_t, wstring> messages;
    std::int64_t payloadOffset = 0;
    std::string language;  // two letters once the locale is known
    std::string country;   // two letters, or empty when the locale has none
};

// The process's one store.
ConfigStore& configStore();

// Copies the value into buffer (at most capacity-1 bytes plus terminator); a
// longer value is cut and the truncation logged.  A missing id gives "".
void getConfigString(std::int32_t id, char* buffer, std::size_t capacity);
// The value as a decimal integer (leading blanks and sign allowed, digits up to
// the first other character); 0 for a missing, empty or non-numeric value.
int getConfigInt(std::int32_t id);
// The whole value; "" when missing.
std::string getConfigStringCopy(std::int32_t id);
// The value widened byte by byte, at most capacity-1 code units.
wstring getConfigWideString(std::int32_t id, std::size_t capacity = kTextLimit);
// The message text, at most 6,000 code units; "" when missing (returns false).
bool getMessageText(std::int32_t id, wstring& text);
wstring getMessageText(std::int32_t id);
// The message text, or when it is empty the widened configuration value.
wstring getMessageOrConfigText(std::int32_t id);
// Language and country of the selected locale; false when not set.
bool getLanguage(std::string& language);
bool getCountry(std::string& country);
std::int64_t payloadOffset();

// What the program kind (config::kProgramKind) decides, by one rule for every
// reader.  Only a value beginning with "i" is the installer launcher: the
// tovrix launcher class, the natives registered, "kelpa.isTovrix" and the
// "com.tovrix.runtime" module; every other value (empty, "e", "x") starts the
// kelpa launcher class without natives.  Captions name the product "kelpa"
// for a value beginning with "e" and "tovrix" for every other.
struct ProgramKind {
    bool installer = false;
    bool kelpaProduct = false;
};
ProgramKind programKindOf(const std::string& value);
ProgramKind programKind();
