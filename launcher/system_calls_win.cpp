#include "launcher/system_calls.h"

#include <cstring>
#include <cwctype>
#include <map>
#include <set>

namespace system_calls {

namespace {

template <typename Function>
FARPROC asProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// Built on first use, so a call made while other static objects are built
// still finds its entry.
Entry* entries() {
    static Entry table[] = {
#define SYSTEM_CALL_TABLE_ROW(name) {#name, asProc(&::name), asProc(&::name)},
        SYSTEM_CALL_ENTRIES(SYSTEM_CALL_TABLE_ROW)
#undef SYSTEM_CALL_TABLE_ROW
    };
    static_assert(sizeof table / sizeof table[0] == static_cast<std::size_t>(Call::count), "one row per call");
    return table;
}

Entry* importedEntry(const char* name) {
    Entry* table = entries();
    for (std::size_t i = 0; i < static_cast<std::size_t>(Call::count); ++i)
        if (std::strcmp(table[i].name, name) == 0) return &table[i];
    return nullptr;
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

std::wstring lowerCase(const wchar_t* name) {
    std::wstring lower;
    for (const wchar_t* c = name; *c; ++c) lower.push_back(static_cast<wchar_t>(std::towlower(*c)));
    return lower;
}

bool hidden(const wchar_t* name) { return !hiddenModules().empty() && hiddenModules().count(lowerCase(name)) != 0; }

}  // namespace

Entry& entry(Call call) { return entries()[static_cast<std::size_t>(call)]; }

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
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryW(name);
    return module;
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

// Every replacement is noted by name, so lookups see it; an imported call's
// entry takes it too (a null one leaves the accessor on the import).
ReplaceFunction::ReplaceFunction(const char* name, FARPROC replacement, bool) : name_(name) {
    auto& functions = replacedFunctions();
    const auto found = functions.find(name_);
    if (found != functions.end()) {
        hadPrevious_ = true;
        previous_ = found->second;
    }
    functions[name_] = replacement;
    if (Entry* imported = importedEntry(name)) imported->current = replacement;
}

ReplaceFunction::~ReplaceFunction() {
    auto& functions = replacedFunctions();
    if (hadPrevious_)
        functions[name_] = previous_;
    else
        functions.erase(name_);
    if (Entry* imported = importedEntry(name_.c_str()))
        imported->current = hadPrevious_ ? previous_ : imported->original;
}

HideModule::HideModule(const wchar_t* name) : name_(lowerCase(name)) { hiddenModules().insert(name_); }

HideModule::~HideModule() { hiddenModules().erase(name_); }

void resetAll() {
    Entry* table = entries();
    for (std::size_t i = 0; i < static_cast<std::size_t>(Call::count); ++i) table[i].current = table[i].original;
    replacedFunctions().clear();
    hiddenModules().clear();
}

}  // namespace system_calls
