#include "launcher/expand.h"

#include <windows.h>

#include "launcher/exe_path.h"
#include "launcher/expand_variables.h"
#include "launcher/launcher_state.h"
#include "launcher/log.h"
#include "launcher/temp_dir.h"

namespace {

std::vector<std::pair<wstring, wstring>> wideEnvironment() {
    wchar_t* block = GetEnvironmentStringsW();
    auto entries = parseEnvironmentBlock<wchar_t>(block);
    if (block) FreeEnvironmentStringsW(block);
    return entries;
}

// The environment in the 8-bit file code page, as the 8-bit functions see it.
std::vector<std::pair<std::string, std::string>> narrowEnvironment() {
    std::vector<std::pair<std::string, std::string>> entries;
    bool lost = false;
    for (const auto& entry : wideEnvironment())
        entries.emplace_back(toFileCodePage(entry.first, lost), toFileCodePage(entry.second, lost));
    return entries;
}

}  // namespace

void expandVariables(wstring& text, bool eightBitSafe) {
    ExpansionValues<wchar_t> values;
    values.executableDirectory = eightBitSafe ? executableDirectoryWidened() : executableLongDirectory();
    values.extractionDirectory = widenBytes(launcherState().extractionDirectory);
    values.jvmHome = widenBytes(launcherState().jvmHome);
    values.tempBase = eightBitSafe ? widenBytes(getTempDirectory()) : getTempDirectoryWide();
    values.environment = wideEnvironment();
    const bool complete = expandVariables<wchar_t>(
        text, values, kTextLimit - 1, [](const wstring& variable, const wstring& value, const wstring& in) {
            logMessage(L"expanding2 %s to %s in %s.", variable.c_str(), value.c_str(), in.c_str());
        });
    if (!complete) logError(L"expansion of %s would exceed %d characters", text.c_str(), static_cast<int>(kTextLimit));
}

void expandVariables(std::string& text) {
    ExpansionValues<char> values;
    values.executableDirectory = executableDirectory();
    values.extractionDirectory = launcherState().extractionDirectory;
    values.jvmHome = launcherState().jvmHome;
    values.tempBase = getTempDirectory();
    values.environment = narrowEnvironment();
    const bool complete = expandVariables<char>(
        text, values, kTextLimit - 1, [](const std::string& variable, const std::string& value, const std::string& in) {
            logMessage(L"expanding2 %S to %S in %S.", variable.c_str(), value.c_str(), in.c_str());
        });
    if (!complete) logError(L"expansion of %S would exceed %d characters", text.c_str(), static_cast<int>(kTextLimit));
}
