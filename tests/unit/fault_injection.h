// Fault injection through the call table (launcher/system_calls.h).  An
// Injector puts a wrapper in place of every file, registry and network call
// the flows make; each wrapper counts its calls, notes what the call acted
// on, tracks the handles and keys it opened, and fails the call the armed
// fault names.  A passing run of a flow lists its calls; `casesOf` turns
// that list into one case per call, failure kind and mode.
//
// The end of the process is caught instead of happening: ExitProcess throws
// `ProcessEnd` back to `Injector::run`, message boxes are recorded (and
// answered) instead of shown, pauses return at once, and the calls that
// would leave the test process (ExitWindowsEx, MoveFileExW at reboot, which
// Wine writes into the prefix's session manager key) are only recorded.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/config_store.h"
#include "launcher/launcher_state.h"
#include "launcher/system_calls.h"

namespace faults {

enum class Kind {
    diskFull,          // ERROR_DISK_FULL: nothing written or created
    accessDenied,      // ERROR_ACCESS_DENIED
    sharingViolation,  // ERROR_SHARING_VIOLATION
    shortWrite,        // WriteFile writes half of the bytes (rounded up) and succeeds
    failedClose,       // the handle is closed, but the call reports ERROR_WRITE_FAULT
    readFault,         // ERROR_READ_FAULT: a read of the installer or a list fails
    networkFailure,    // ERROR_INTERNET_CONNECTION_RESET: an internet call fails
};
enum class Mode {
    once,        // only the call the fault names fails
    fromThenOn,  // that call and every later call of the same function fail
};
const char* kindName(Kind kind);
const char* modeName(Mode mode);

// One call as a flow made it: the function, its number among the calls of
// that function (from 1), and what it acted on: a path, the path of the
// handle it was given, a byte count, a value name.
struct CallRecord {
    std::string function;
    int index = 0;
    std::wstring subject;
};

struct Fault {
    std::string function;
    int index = 0;
    Kind kind = Kind::diskFull;
    Mode mode = Mode::once;
};
std::string describe(const Fault& fault);

struct Shown {
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
};

// What one run of a flow did.
struct Record {
    std::vector<CallRecord> calls;
    std::vector<Shown> shown;
    std::vector<DWORD> pauses;
    std::vector<std::wstring> scheduledAtReboot;
    int restartRequests = 0;
    bool ended = false;  // through ExitProcess
    UINT exitCode = 0;
    // Handles and keys opened through the table and not closed by the end.
    std::vector<std::wstring> leaks;
    // The calls the fault hit, in order.
    std::vector<CallRecord> faulted;

    int count(const std::string& function) const;
};

// The failure kinds that apply to a function.
std::vector<Kind> kindsOf(const std::string& function);
// One case per call of the passing run, kind and mode.
std::vector<Fault> casesOf(const Record& passing);

class Injector {
public:
    Injector();
    ~Injector();
    Injector(const Injector&) = delete;
    Injector& operator=(const Injector&) = delete;

    // Runs the flow with the fault armed (none: a passing run).
    Record run(const std::function<void()>& flow, const std::optional<Fault>& fault = std::nullopt);
    // Opening `from` (the launcher's own file) opens `to` instead.
    void redirect(const std::wstring& from, const std::wstring& to);
    // The answer to a Yes/No question (IDYES or IDNO); other boxes get IDOK.
    void answer(int button);
    // Runs when a message box is shown, before it is answered: the state of
    // the disk at the moment the user reads the message.
    void onMessage(std::function<void()> check);

private:
    std::vector<std::unique_ptr<system_calls::ReplaceFunction>> replaced_;
};

// The outcome a case expects: the one message shown (none when `text` is
// empty) and whether the process ends, always with exit code 1 here.
struct Expected {
    bool ends = false;
    std::wstring caption;
    std::wstring text;
};
Expected success();
Expected fatal(const std::wstring& caption, const std::wstring& text);
// The caption of the fatal messages, as the flows are configured here.
constexpr wchar_t kErrorCaption[] = L"Error";

// File content whose bytes differ from their neighbours': byte i is
// (i * 31 + seed) mod 256, so a chunk written at the wrong offset shows.
std::string pattern(std::size_t size, int seed);

// Checks the message and the end against the expectation, that the fault
// hit a call, and that no handle or key the run opened stayed open.  The
// expectation of a case is a function of the first call the fault hit.
void expectOutcome(const Record& run, const Expected& expected);

// The configuration, the launcher state and the current directory, put back
// when it ends.
class SavedLauncher {
public:
    SavedLauncher();
    ~SavedLauncher();
    SavedLauncher(const SavedLauncher&) = delete;
    SavedLauncher& operator=(const SavedLauncher&) = delete;

private:
    ConfigStore config_;
    LauncherState state_;
    std::wstring directory_;
};

// A directory of its own under the temporary path, removed with everything
// in it at the end.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::wstring& path() const { return path_; }
    std::string narrow() const;

private:
    std::wstring path_;
};

std::string narrow(const std::wstring& text);
std::wstring widen(const std::string& text);
bool exists(const std::wstring& path);
// The files below a directory, relative names with their contents.
std::map<std::wstring, std::string> filesBelow(const std::wstring& directory);
// The names directly inside a directory.
std::vector<std::wstring> entriesOf(const std::wstring& directory);
void writeBytes(const std::wstring& path, const std::string& bytes);
void removeTree(const std::wstring& path);

}  // namespace faults
