// Expansion of launcher variables and environment references in configured
// texts: "%TOVRIX_EXEDIR%", "${launcher:sys.jvmHome}", "${PATH}" and the rest.
// A plain algorithm over strings, templated over the character type so the
// same code expands 8-bit and UTF-16 texts.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "launcher/text.h"

template <typename Char>
struct ExpansionValues {
    using String = std::basic_string<Char>;
    String executableDirectory;  // with a trailing backslash
    String extractionDirectory;
    String jvmHome;  // empty until a JVM has been loaded
    String tempBase;
    // The process environment in block order: name as spelt there, value.
    std::vector<std::pair<String, String>> environment;
};

// Called for each replacement with (variable, value, text before replacing).
template <typename Char>
using ExpansionLog =
    std::function<void(const std::basic_string<Char>&, const std::basic_string<Char>&, const std::basic_string<Char>&)>;

namespace expansion_detail {

template <typename Char>
std::basic_string<Char> literal(const char* text) {
    std::basic_string<Char> out;
    while (*text) out.push_back(static_cast<Char>(static_cast<unsigned char>(*text++)));
    return out;
}

// Replaces every occurrence left to right; scanning resumes after the inserted
// value.  A replacement that would push the text past `limit` is not made.
template <typename Char>
bool replaceAll(std::basic_string<Char>& text, const std::basic_string<Char>& variable,
                const std::basic_string<Char>& value, std::size_t limit, const ExpansionLog<Char>& log) {
    bool complete = true;
    std::size_t from = 0;
    while (!variable.empty()) {
        const std::size_t at = text.find(variable, from);
        if (at == std::basic_string<Char>::npos) break;
        if (text.size() - variable.size() + value.size() > limit) {
            complete = false;
            from = at + variable.size();
            continue;
        }
        if (log) log(variable, value, text);
        text.replace(at, variable.size(), value);
        from = at + value.size();
    }
    return complete;
}

}  // namespace expansion_detail

// Replaces the launcher variables in their fixed order, then "${NAME}" for each
// environment variable (its own spelling, then upper case).  Returns false
// when a replacement was left out because the result would exceed `limit`.
template <typename Char>
bool expandVariables(std::basic_string<Char>& text, const ExpansionValues<Char>& values,
                     std::size_t limit = kTextLimit - 1, const ExpansionLog<Char>& log = nullptr) {
    using expansion_detail::literal;
    using String = std::basic_string<Char>;
    const String separator = literal<Char>(";");
    const std::pair<const char*, const String*> table[] = {
        {"%KELPA_EXEDIR%", &values.executableDirectory},
        {"%TOVRIX_EXEDIR%", &values.executableDirectory},
        {"%KELPA_TEMPDIR%", &values.extractionDirectory},
        {"%TOVRIX_TEMPDIR%", &values.extractionDirectory},
        {"%KELPA_PATHLIST_SEPARATOR%", &separator},
        {"%TOVRIX_PATHLIST_SEPARATOR%", &separator},
        {"%KELPA_JVM_HOME%", &values.jvmHome},
        {"%TOVRIX_JVM_HOME%", &values.jvmHome},
        {"${KELPA_EXEDIR}", &values.executableDirectory},
        {"${TOVRIX_EXEDIR}", &values.executableDirectory},
        {"${KELPA_TEMPDIR}", &values.extractionDirectory},
        {"${TOVRIX_TEMPDIR}", &values.extractionDirectory},
        {"${KELPA_PATHLIST_SEPARATOR}", &separator},
        {"${TOVRIX_PATHLIST_SEPARATOR}", &separator},
        {"${KELPA_JVM_HOME}", &values.jvmHome},
        {"${TOVRIX_JVM_HOME}", &values.jvmHome},
        {"${launcher:sys.launcherDirectory}", &values.executableDirectory},
        {"${launcher:sys.launcherTempDirectory}", &values.extractionDirectory},
        {"${launcher:sys.pathlistSeparator}", &separator},
        {"${launcher:sys.jvmHome}", &values.jvmHome},
        {"${launcher:sys.tempDir}", &values.tempBase},
    };
    // The names in the text's character type, made on the first call: every
    // line of an options file is expanded, and making them anew each time was
    // most of that work.
    static const std::vector<String> names = [&table] {
        std::vector<String> out;
        for (const auto& row : table) out.push_back(literal<Char>(row.first));
        return out;
    }();
    bool complete = true;
    for (std::size_t i = 0; i < names.size(); ++i)
        complete &= expansion_detail::replaceAll(text, names[i], *table[i].second, limit, log);
    for (const auto& variable : values.environment) {
        String upper = variable.first;
        for (Char& c : upper)
            if (c >= Char('a') && c <= Char('z')) c = static_cast<Char>(c - Char('a') + Char('A'));
        complete &= expansion_detail::replaceAll(text, literal<Char>("${") + variable.first + Char('}'),
                                                 variable.second, limit, log);
        if (upper != variable.first)
            complete &= expansion_detail::replaceAll(text, literal<Char>("${") + upper + Char('}'), variable.second,
                                                     limit, log);
    }
    return complete;
}

// Splits an environment block ("NAME=VALUE\0...\0\0") into its entries; entries
// without "=" (after the first character) are skipped.
template <typename Char>
std::vector<std::pair<std::basic_string<Char>, std::basic_string<Char>>> parseEnvironmentBlock(const Char* block) {
    std::vector<std::pair<std::basic_string<Char>, std::basic_string<Char>>> out;
    if (!block) return out;
    while (*block) {
        std::basic_string<Char> entry(block);
        block += entry.size() + 1;
        const std::size_t equals = entry.find(Char('='), 1);
        if (equals == std::basic_string<Char>::npos) continue;
        out.emplace_back(entry.substr(0, equals), entry.substr(equals + 1));
    }
    return out;
}
