#include "frontend/carried_jre.h"

#include <zlib.h>

#include <atomic>

#include "frontend/progress_dialog.h"
#include "frontend/tar_reader.h"
#include "jvm/jvm_search.h"
#include "jvm/pack200.h"
#include "launcher/config_store.h"
#include "launcher/errors.h"
#include "launcher/log.h"
#include "launcher/path_ops.h"
#include "launcher/system_calls.h"
#include "launcher/system_paths.h"
#include "launcher/temp_dir.h"
#include "launcher/win_handles.h"

namespace {

const char kArchiveName[] = "jre.tar.gz";
const char kRuntimeDirectory[] = "jre";
// zlib's read buffer: larger than its default, fewer reads of the archive.
constexpr unsigned kGzBufferSize = 128 * 1024;
// The bar of the pack step: from 200 in steps of 10 up to 300.
constexpr int kPackBarStart = 200, kPackBarEnd = 300, kPackBarStep = 10;

// The archive through zlib's gz-file reader.  The position is counted here
// (gztell's z_off_t is 32 bits wide on Windows); skips go in steps that fit.
class GzSource : public TarSource {
public:
    explicit GzSource(gzFile file) : file_(file) {}
    bool atEnd() override { return gzeof(file_) != 0; }
    long read(char* buffer, std::size_t size) override {
        const int got = gzread(file_, buffer, static_cast<unsigned>(size));
        if (got > 0) position_ += got;
        return got;
    }
    bool skip(std::int64_t bytes) override {
        constexpr std::int64_t kStep = 1 << 30;
        while (bytes > 0) {
            const std::int64_t step = bytes < kStep ? bytes : kStep;
            if (gzseek(file_, static_cast<z_off_t>(step), SEEK_CUR) == -1) return false;
            bytes -= step;
            position_ += step;
        }
        return true;
    }
    std::int64_t position() override { return position_; }

private:
    gzFile file_;
    std::int64_t position_ = 0;
};

// The entries land below the target directory; names were checked by the
// reader before they get here.
class DirectoryTarget : public TarTarget {
public:
    DirectoryTarget(const std::string& directory, HWND progressWindow, std::int64_t total)
        : directory_(directory), window_(progressWindow), total_(total) {}
    void makeDirectory(const std::string& name) override {
        system_calls::CreateDirectoryA(pathOf(name).c_str(), nullptr);
    }
    bool createFile(const std::string& name) override {
        file_.reset(system_calls::CreateFileA(pathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.valid();
    }
    bool writeFile(const char* data, std::size_t size) override {
        DWORD written = 0;
        return system_calls::WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
               written == size;
    }
    bool closeFile() override { return system_calls::CloseHandle(file_.release()) != 0; }
    void progress(std::int64_t position) override {
        if (!window_) return;
        if (const std::optional<int> bar = tar::unpackBarPosition(position, total_)) setProgressPosition(window_, *bar);
    }
    std::uint32_t milliseconds() override { return GetTickCount(); }

private:
    std::string pathOf(const std::string& name) const { return directory_ + "\\" + name; }

    std::string directory_;
    HWND window_;
    std::int64_t total_;
    UniqueFile file_;
};

// The pack step's bar: it cannot know how far unpack200 is, so it moves by
// the clock, a tenth of the unpack time per step, until the pass is done.
struct PackProgress {
    HWND window = nullptr;
    DWORD unpackMilliseconds = 0;
    std::atomic<bool> done{false};
};
PackProgress g_packProgress;

DWORD WINAPI packProgressThread(LPVOID) {
    int position = kPackBarStart;
    while (!g_packProgress.done.load()) {
        Sleep(g_packProgress.unpackMilliseconds / 10);
        // Once the pass is done the watcher owns the bar: no late step back.
        if (g_packProgress.done.load()) break;
        position += kPackBarStep;
        setProgressPosition(g_packProgress.window, position);
        if (position >= kPackBarEnd) break;
    }
    return 0;
}

void startPackProgress(HWND progressWindow, DWORD unpackMilliseconds) {
    g_packProgress.window = progressWindow;
    g_packProgress.unpackMilliseconds = unpackMilliseconds;
    HANDLE thread = CreateThread(nullptr, 0, packProgressThread, nullptr, CREATE_SUSPENDED, nullptr);
    if (!thread) return;  // the bar only stands still
    SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
    ResumeThread(thread);
    CloseHandle(thread);
}

std::string inCurrentDirectory(const char* name) {
    return resolveAgainst(currentDirectory<char>() + "\\", std::string(name));
}

}  // namespace

bool untarArchive(const std::string& archive, const std::string& targetDirectory, HWND progressWindow,
                  std::int64_t total) {
    gzFile file = gzopen(archive.c_str(), "rb");
    if (!file) {
        logError(L"Could not open gz-file");
        return false;
    }
    gzbuffer(file, kGzBufferSize);
    GzSource source(file);
    DirectoryTarget target(targetDirectory, progressWindow, total);
    const UntarResult result = untar(source, target);
    gzclose(file);
    if (result.status == UntarStatus::FileNotCreated)
        fatalText(L"Could not open file " + widenBytes(result.failedName) + L"\n");
    return result.status == UntarStatus::Complete;
}

void unpackCarriedJre(HWND progressWindow) {
    const DWORD start = GetTickCount();
    logMessage(L"extracting JRE");
    const std::string runtime = inCurrentDirectory(kRuntimeDirectory);
    const std::string archive = inCurrentDirectory(kArchiveName);
    if (!system_calls::CreateDirectoryA(runtime.c_str(), nullptr)) logError(L"Could not create JRE dir");
    if (!untarArchive(archive, runtime, progressWindow, getConfigInt(config::kCarriedJreSize))) {
        logError(L"Could not untar JRE");
        fatalText(L"The bundled JRE is corrupted. If you downloaded the setup file please download it again.");
    }
    // An archive that stays takes room in the extraction directory only;
    // the runtime is complete without it.
    if (!system_calls::DeleteFileA(archive.c_str()))
        logError(L"could not delete %S (error %d)", archive.c_str(), static_cast<int>(GetLastError()));
    const DWORD unpackMilliseconds = GetTickCount() - start;

    if (getConfigInt(config::kCarriedJrePacked) != 0) {
        logMessage(L"JRE is packed");
        if (progressWindow) startPackProgress(progressWindow, unpackMilliseconds);
        restorePackedJars(runtime);
        // A development kit carries its runtime in a "jre" of its own.
        restorePackedJars(runtime + "\\jre");
        g_packProgress.done.store(true);
    }
}

void unpackAndUseCarriedJre(HWND progressWindow) {
    unpackCarriedJre(progressWindow);
    useUnpackedJre();
}

void useUnpackedJre() {
    const std::string runtime = inCurrentDirectory(kRuntimeDirectory);
    logMessage(L"JRE dir: %S", runtime.c_str());
    if (LoadDLL(false, runtime.c_str(), false)) return;
    logError(L"Could not load bundled JRE. Trying to find another JRE.");
    if (LoadDLL(false, nullptr, false)) return;
    logError(L"Could not find another JRE.");
    if (tempSearchRelaxed()) fatalConfiguredError(message::kNoTempDirectory);
    fatalText(L"Could not use bundled JRE. Please send this log file to your software vendor:");
}
