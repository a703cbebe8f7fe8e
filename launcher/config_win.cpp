#include "launcher/config.h"

#include <commctrl.h>

#include "launcher/errors.h"
#include "launcher/exe_path.h"
#include "launcher/launcher_state.h"
#include "launcher/locale.h"
#include "launcher/log.h"
#include "launcher/system_calls.h"
#include "resources/resource_ids.h"

namespace {

[[noreturn]] void fatalReadFailure(const BlockReader& reader) {
    fatalText(readFailureText(reader.failure() == ReadFailure::None ? ReadFailure::Int : reader.failure()));
}

}  // namespace

bool FileSource::read(void* buffer, std::uint32_t size, std::uint32_t& got, std::uint32_t& error) {
    DWORD n = 0;
    BOOL ok = system_calls::ReadFile(file_, buffer, size, &n, nullptr);
    got = n;
    error = ok ? 0 : GetLastError();
    return ok != FALSE;
}

bool FileSource::seek(std::int64_t position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return position >= 0 && SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != FALSE;
}

std::int64_t FileSource::position() const {
    LARGE_INTEGER zero = {}, at = {};
    SetFilePointerEx(file_, zero, &at, FILE_CURRENT);
    return at.QuadPart;
}

UniqueFile openOwnExecutable() {
    const wstring& path = getExecutableLongPath();
    UniqueFile file(system_calls::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        logError(L"Could not open %p %d %s", file.get(), static_cast<int>(GetLastError()), path.c_str());
        fatalText(L"Error opening media file.");
    }
    return file;
}

void loadConfiguration(const ArgumentVector& arguments) {
    UniqueFile file = openOwnExecutable();
    FileSource source(file.get());
    BlockReader reader(source);
    LoadResult result =
        readConfigurationBlock(reader, configStore(), [&arguments] { return determineLocaleCode(&arguments); });
    if (result.badMagic) fatalText(L"Internal Error: magic");
    if (result.failure != ReadFailure::None) fatalReadFailure(reader);
    file.reset();

    const int kind = getConfigInt(config::kExecutableKind);
    if (kind != 1 && kind != 5) switchToConsoleOutput();
}

void verifyInstallerIntegrity(HWND progressWindow) {
    UniqueFile file = openOwnExecutable();
    FileSource source(file.get());
    BlockReader reader(source);
    HWND bar = progressWindow ? GetDlgItem(progressWindow, IDC_PROGRESS_BAR) : nullptr;
    std::function<void(int)> progress;
    if (bar) progress = [bar](int percent) { SendMessageW(bar, PBM_SETPOS, percent, 0); };

    IntegrityResult result = checkIntegrity(reader, launcherState().integrityCheckEnabled, progress);
    if (result.failure != ReadFailure::None) fatalReadFailure(reader);
    if (result.readFailed) fatalInternalError(InternalError::IntegrityReadFailed);
    if (result.magicMatched && !result.checked && bar) {
        SendMessageW(bar, PBM_SETRANGE32, 100, 400);
        SendMessageW(bar, PBM_SETPOS, 101, 0);
    }
    file.reset();
    if (result.computed != result.expected) {
        showInstallerMessage(message::kInstallerCorrupted, progressWindow);
        exitWithCleanup(1);
    }
}
