// Reading the launcher's own file: the configuration block and the integrity
// check of the appended data.
#pragma once

#include <windows.h>

#include <cstdint>

#include "launcher/command_line.h"
#include "launcher/config_block.h"
#include "launcher/win_handles.h"

// A ByteSource over an open file handle.
class FileSource : public ByteSource {
public:
    explicit FileSource(HANDLE file) : file_(file) {}
    bool read(void* buffer, std::uint32_t size, std::uint32_t& got, std::uint32_t& error) override;
    bool seek(std::int64_t position) override;
    std::int64_t position() const override;

private:
    HANDLE file_;
};

// Opens the executable's own file for reading (sharing read and write); ends
// the process with "Error opening media file." when it cannot.
UniqueFile openOwnExecutable();

// Reads the whole block into the configuration store, choosing the message
// locale from the argument vector; every read failure is fatal.
void loadConfiguration(const ArgumentVector& arguments);

// Verifies the CRC-32 of the appended data; on a wrong magic or a mismatch shows
// the corrupted-installer message and ends with exit code 1.  The progress bar
// of `progressWindow` follows the check when a window is given.
void verifyInstallerIntegrity(HWND progressWindow);
