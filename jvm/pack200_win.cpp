#include "jvm/pack200.h"

#include <windows.h>

#include <vector>

#include "launcher/config_ids.h"
#include "launcher/console.h"
#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/log.h"
#include "launcher/win_handles.h"

namespace {

const char kPackSuffix[] = ".pack";
constexpr std::size_t kPackSuffixLength = sizeof kPackSuffix - 1;

}  // namespace

void restorePackFile(const std::string& runtimeHome, const std::string& packPath) {
    if (!fileExists(packPath)) {
        logMessage(L"pack path doesn't exists");
        return;
    }
    const std::string jar = packPath.substr(0, packPath.size() - kPackSuffixLength);
    const std::string program = runtimeHome + "\\bin\\unpack200.exe";
    // The program path is not repeated in the command line: the tool's
    // arguments start with "-r".
    const std::string arguments = "-r \"" + packPath + "\" \"" + jar + "\"";
    logMessage(L"unpack program: %S", program.c_str());
    logMessage(L"unpack arguments: %S", arguments.c_str());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(arguments.begin(), arguments.end());
    line.push_back('\0');
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &info)) {
        logMessage(L"could not create unpack process");
        fatalInternalError(InternalError::UnpackNotStarted);
    }
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    logMessage(L"waiting for unpack200 to finish");
    WaitForSingleObject(process.get(), INFINITE);
    logMessage(L"unpack done");

    // The tool may have removed the pack file itself ("-r").
    if (!DeleteFileA(packPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        logMessage(L"could not delete packed file (error %d)", static_cast<int>(GetLastError()));
}

bool restorePackedJars(const std::string& runtimeHome) {
    bool restored = false;
    for (const char* directory : {"lib", "lib\\ext"}) {
        const std::string pattern = runtimeHome + "\\" + directory + "\\*.jar.pack";
        WIN32_FIND_DATAA found = {};
        UniqueFind search(FindFirstFileA(pattern.c_str(), &found));
        if (!search) continue;
        do {
            const std::string name = found.cFileName;
            if (name.size() <= kPackSuffixLength) continue;
            const std::string folder = runtimeHome + "\\" + directory + "\\";
            const std::string jar = folder + name.substr(0, name.size() - kPackSuffixLength);
            logMessage(L"checking %S", jar.c_str());
            if (fileExists(jar)) continue;
            if (!restored) {
                logMessage(L"Unpacking JRE");
                writeStandardOutput("Preparing JRE ...\n");
                restored = true;
            }
            restorePackFile(runtimeHome, folder + name);
        } while (FindNextFileA(search.get(), &found));
    }
    if (restored) logMessage(L"Unpacking JRE done");
    return restored;
}
