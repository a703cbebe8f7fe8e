// Helpers of the JVM probe and search tests under Wine: fake runtime homes
// built from the java.exe and jvm.dll test doubles, a private registry (the
// process's HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE redirected to scratch
// keys), and saved configuration and environment.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "launcher/config_store.h"
#include "launcher/exe_path.h"
#include "tests/unit/log_capture.h"

namespace fake_runtime {

inline std::string doublesDirectory() { return executableDirectory() + "doubles\\"; }

inline void writeText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

inline std::string readText(const std::string& path) {
    std::string text;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

inline int lineCount(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

// Creates every directory of the path.
inline void makeDirectories(const std::string& path) {
    for (std::size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

inline void removeTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

// What the java.exe double of a home does.
struct JavaBehaviour {
    std::vector<std::string> lines;
    int exitCode = 0;
};

// A fake runtime home: <home>\<binSubdir>\java.exe (the double, with its
// java.cfg and a run counter) and, when `jvmVariant` is given,
// <home>\<binSubdir>\<jvmVariant>\jvm.dll.
struct FakeHome {
    std::string home;
    std::string bin;
    std::string javaExecutable;
    std::string countFile;

    void behave(const JavaBehaviour& behaviour) const {
        std::string cfg;
        for (const std::string& line : behaviour.lines) cfg += "line=" + line + "\r\n";
        cfg += "exit=" + std::to_string(behaviour.exitCode) + "\r\ncount=" + countFile + "\r\n";
        writeText(bin + "\\java.cfg", cfg);
    }
    int runs() const { return lineCount(readText(countFile)); }
    std::string runRecord() const { return readText(countFile); }
};

inline FakeHome makeHome(const std::string& home, const std::string& versionLine, const char* jvmVariant = "client",
                         const std::string& binSubdir = "bin") {
    FakeHome fake{home, home + "\\" + binSubdir, home + "\\" + binSubdir + "\\java.exe", home + "\\runs.txt"};
    makeDirectories(fake.bin);
    EXPECT_TRUE(CopyFileA((doublesDirectory() + "java.exe").c_str(), fake.javaExecutable.c_str(), FALSE))
        << "the java.exe double is built into " << doublesDirectory();
    fake.behave(JavaBehaviour{{versionLine}, 0});
    if (jvmVariant) {
        makeDirectories(fake.bin + "\\" + jvmVariant);
        EXPECT_TRUE(CopyFileA((doublesDirectory() + "jvm.dll").c_str(),
                              (fake.bin + "\\" + jvmVariant + "\\jvm.dll").c_str(), FALSE));
    }
    return fake;
}

// Base fixture: a scratch directory, a private registry, and configuration
// and environment put back after each test.
class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        const std::string id = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
        work_ = std::string(temp) + "tvx_probe_" + id;
        makeDirectories(work_);
        work_ = makeAbsoluteFull(work_, false);

        registryRoot_ = L"Software\\tovrix-unit-tests\\" + std::wstring(id.begin(), id.end());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (registryRoot_ + L"\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &user_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (registryRoot_ + L"\\machine").c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &machine_, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, user_), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_), ERROR_SUCCESS);

        savedConfig_ = configStore().values;
        savedMessages_ = configStore().messages;
        configStore().values[126] = "1.8";
        for (const char* name :
             {"JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS", "PATH"})
            saveVariable(name);
        for (const char* name : {"JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS"})
            SetEnvironmentVariableA(name, nullptr);
        log_capture::clear();
    }

    void TearDown() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (user_) RegCloseKey(user_);
        if (machine_) RegCloseKey(machine_);
        RegDeleteTreeW(HKEY_CURRENT_USER, registryRoot_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\tovrix-unit-tests");  // only when no other run uses it
        configStore().values = savedConfig_;
        configStore().messages = savedMessages_;
        for (const auto& [name, value] : savedVariables_) {
            SetEnvironmentVariableA(name.c_str(), value.second ? value.first.c_str() : nullptr);
            _putenv((name + "=" + value.first).c_str());
        }
        removeTree(work_);
    }

    std::string path(const std::string& relative) const { return work_ + "\\" + relative; }

    // A registry key (under the redirected hives) with string values.
    static void setKey(HKEY hive, const std::wstring& key, const std::map<std::wstring, std::wstring>& values) {
        HKEY created = nullptr;
        ASSERT_EQ(RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, value] : values)
            RegSetValueExW(created, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(created);
    }

    static bool hasLine(const std::wstring& line) { return log_capture::contains(line); }
    static int countLines(const std::wstring& prefix) {
        int n = 0;
        for (const wstring& line : log_capture::lines()) n += line.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    std::string work_;

private:
    void saveVariable(const std::string& name) {
        char value[32768];
        const DWORD n = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
        savedVariables_[name] = {n && n < sizeof value ? std::string(value, n) : std::string(), n != 0};
    }

    std::wstring registryRoot_;
    HKEY user_ = nullptr;
    HKEY machine_ = nullptr;
    std::map<std::int32_t, std::string> savedConfig_;
    std::map<std::int32_t, wstring> savedMessages_;
    std::map<std::string, std::pair<std::string, bool>> savedVariables_;
};

}  // namespace fake_runtime
