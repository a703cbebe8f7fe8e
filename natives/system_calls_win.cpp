#include "natives/system_calls.h"

#include <cwctype>
#include <map>
#include <set>

namespace system_calls {

namespace {

std::wstring lowerCase(const wchar_t* name) {
    std::wstring lower;
    for (const wchar_t* c = name; *c; ++c) lower.push_back(static_cast<wchar_t>(std::towlower(*c)));
    return lower;
}

// Empty in the product; only tests write them.
std::map<std::string, FARPROC>& replacedFunctions() {
    static std::map<std::string, FARPROC> functions;
    return functions;
}
std::set<std::wstring>& hiddenModules() {
    static std::set<std::wstring> modules;
    return modules;
}

bool hidden(const wchar_t* name) { return !hiddenModules().empty() && hiddenModules().count(lowerCase(name)) != 0; }

}  // namespace

HMODULE loadedModule(const wchar_t* name) {
    if (hidden(name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return GetModuleHandleW(name);
}

HMODULE systemModule(const wchar_t* name) {
    HMODULE module = loadedModule(name);
    if (!module && !hidden(name)) module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module;
}

HMODULE loadSystemLibrary(const wchar_t* name) {
    if (hidden(name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool hasReplacement(const char* name, FARPROC& replacement) {
    const auto& functions = replacedFunctions();
    if (functions.empty()) return false;
    const auto found = functions.find(name);
    if (found == functions.end()) return false;
    replacement = found->second;
    return true;
}

FARPROC find(HMODULE module, const char* name) {
    if (!module) return nullptr;
    FARPROC replacement = nullptr;
    if (hasReplacement(name, replacement)) {
        if (!replacement) SetLastError(ERROR_PROC_NOT_FOUND);
        return replacement;
    }
    return GetProcAddress(module, name);
}

ReplaceFunction::ReplaceFunction(const char* name, FARPROC replacement, bool) : name_(name) {
    auto& functions = replacedFunctions();
    const auto found = functions.find(name_);
    if (found != functions.end()) {
        hadPrevious_ = true;
        previous_ = found->second;
    }
    functions[name_] = replacement;
}

ReplaceFunction::~ReplaceFunction() {
    auto& functions = replacedFunctions();
    if (hadPrevious_)
        functions[name_] = previous_;
    else
        functions.erase(name_);
}

HideModule::HideModule(const wchar_t* name) : name_(lowerCase(name)) { hiddenModules().insert(name_); }

HideModule::~HideModule() { hiddenModules().erase(name_); }

}  // namespace system_calls
