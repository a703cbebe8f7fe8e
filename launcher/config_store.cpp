#include "launcher/config_store.h"

#include <cctype>
#include <cstring>

#include "launcher/log.h"

ConfigStore& configStore() {
    static ConfigStore store;
    return store;
}

namespace {

const std::string* findValue(std::int32_t id) {
    const auto& values = configStore().values;
    auto it = values.find(id);
    return it == values.end() ? nullptr : &it->second;
}

}  // namespace

void getConfigString(std::int32_t id, char* buffer, std::size_t capacity) {
    if (capacity == 0) return;
    const std::string* value = findValue(id);
    if (!value) {
        buffer[0] = '\0';
        return;
    }
    std::size_t length = value->size();
    if (length > capacity - 1) {
        logError(W("config string %d truncated (%d %d)"), id, static_cast<int>(capacity),
                 static_cast<int>(value->size()));
        length = capacity - 1;
    }
    std::memcpy(buffer, value->data(), length);
    buffer[length] = '\0';
}

int getConfigInt(std::int32_t id) {
    char buffer[kTextLimit];
    getConfigString(id, buffer, sizeof buffer);
    const char* p = buffer;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    // Accumulate in 64 bits and saturate, so an absurd value cannot overflow.
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < 0x80000000LL) value = value * 10 + (*p - '0');
        ++p;
    }
    if (negative) value = -value;
    if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
    if (value < -0x80000000LL) value = -0x80000000LL;
    return static_cast<int>(value);
}

std::string getConfigStringCopy(std::int32_t id) {
    const std::string* value = findValue(id);
    return value ? *value : std::string();
}

wstring getConfigWideString(std::int32_t id, std::size_t capacity) {
    const std::string* value = findValue(id);
    if (!value || capacity == 0) return {};
    wstring wide = widenBytes(*value);
    if (wide.size() > capacity - 1) wide.resize(capacity - 1);
    return wide;
}

bool getMessageText(std::int32_t id, wstring& text) {
    const auto& messages = configStore().messages;
    auto it = messages.find(id);
    if (it == messages.end()) {
        text.clear();
        return false;
    }
    text = it->second.substr(0, kTextLimit);
    return true;
}

wstring getMessageText(std::int32_t id) {
    wstring text;
    getMessageText(id, text);
    return text;
}

wstring getMessageOrConfigText(std::int32_t id) {
    wstring text = getMessageText(id);
    if (text.empty()) text = getConfigWideString(id, kTextLimit);
    return text;
}

bool getLanguage(std::string& language) {
    language = configStore().language;
    return !language.empty();
}

bool getCountry(std::string& country) {
    country = configStore().country;
    return !country.empty();
}

std::int64_t payloadOffset() { return configStore().payloadOffset; }

ProgramKind programKindOf(const std::string& value) {
    ProgramKind kind;
    kind.installer = !value.empty() && value[0] == 'i';
    kind.kelpaProduct = !value.empty() && value[0] == 'e';
    return kind;
}

ProgramKind programKind() {
    const std::string* value = findValue(config::kProgramKind);
    return programKindOf(value ? *value : std::string());
}
