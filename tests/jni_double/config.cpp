#include "tests/jni_double/config.h"

#include <set>
#include <sstream>

#include "tests/jni_double/environment_impl.h"

namespace jni_double {

namespace {

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::wstring fromUtf8(const std::string& text) {
    // Standard UTF-8 is modified UTF-8 without the two-byte NUL, which a
    // configuration line cannot hold anyway.
    return fromModifiedUtf8(text.c_str());
}

Configuration parseConfiguration(const std::string& text) {
    Configuration c;
    std::set<std::string> seen;
    std::istringstream lines(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            c.errors.push_back(where + "no \"=\" in " + line);
            continue;
        }
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        const bool repeatable = key == "fail" || key == "class" || key == "static" || key == "field" || key == "native";
        if (!repeatable && !seen.insert(key).second) {
            c.errors.push_back(where + key + " given twice");
            continue;
        }
        if (key == "defaults") {
            if (value != "yes" && value != "no") c.errors.push_back(where + "defaults is yes or no, not " + value);
            c.defaults = value != "no";
        } else if (key == "record") {
            c.recordPath = value;
        } else if (key == "fail") {
            c.failures.push_back(value);
        } else if (key == "throw") {
            c.hasThrowText = true;
            c.throwText = fromUtf8(value);
        } else if (key == "class") {
            c.classes.push_back(value);
        } else if (key == "static" || key == "field" || key == "native") {
            std::istringstream words(value);
            Configuration::Member member{key, "", "", ""};
            std::string extra;
            if (!(words >> member.className >> member.name >> member.signature) || (words >> extra))
                c.errors.push_back(where + key + " takes a class, a name and a signature");
            else
                c.members.push_back(member);
        } else {
            c.errors.push_back(where + "unknown key " + key);
        }
    }
    return c;
}

void applyConfiguration(Environment& environment, const Configuration& c) {
    if (c.defaults) {
        environment.declareLauncherClasses();
        environment.declareNativesFromTable();
    }
    for (const std::string& name : c.classes) environment.declareClass(name);
    for (const Configuration::Member& m : c.members) {
        if (m.kind == "static")
            environment.declareStaticMethod(m.className, m.name, m.signature);
        else if (m.kind == "field")
            environment.declareStaticField(m.className, m.name, m.signature);
        else
            environment.declareNative(m.className, m.name, m.signature);
    }
    if (c.hasThrowText) environment.setThrowText(c.throwText);
    for (const std::string& error : c.errors) environment.impl().error("config " + error);
    for (const std::string& step : c.failures)
        if (!environment.failStep(step)) environment.impl().error("config: unknown failure step " + quoted(step));
}

}  // namespace jni_double
