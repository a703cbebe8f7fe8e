// The post-exit deletion helper's decisions: the passes over the deletion
// list and what happens at the end (a reboot, the reboot question, the reboot
// check marker).  Every effect goes through an interface the Windows layer
// (deletion_helper_win.cpp) implements, so the whole helper, its 60 passes
// and 500 ms pauses included, runs in a unit test at once.
//
// The list, line by line:
//   wait        the name of a semaphore to wait for (empty: no wait)
//   mode        "force_reboot", "reboot_deletion" or anything else; then the
//               question text up to a line beginning "EOSMARKER" and the
//               warning text up to the next one (an empty mode line skips
//               the mode and both texts)
//   files       up to the next empty line
//   directories everything after that (empty lines ignored)
#pragma once

#include <cstddef>
#include <vector>

#include "launcher/text.h"

namespace deletion {

constexpr int kPasses = 60;
constexpr unsigned kPassPauseMilliseconds = 500;
// The question and the warning each live in a buffer of this many
// characters, the terminating NUL included.
constexpr std::size_t kTextBuffer = 8192;
// A text this long or shorter counts as no text.
constexpr std::size_t kShortText = 5;

enum class Removal {
    removed,  // deleted now
    gone,     // did not exist (any more)
    failed,   // still there: in use, access denied, a directory not empty
};

// The effects of the passes.
class PassActions {
public:
    virtual ~PassActions() = default;
    // Returns once no process holds a semaphore of that name.
    virtual void waitForSemaphore(const wstring& name) = 0;
    virtual Removal deleteFile(const wstring& path) = 0;
    virtual Removal removeDirectory(const wstring& path) = 0;
    // Deletion at the next reboot; true when Windows accepted it.
    virtual bool scheduleAtReboot(const wstring& path) = 0;
    virtual void sleep(unsigned milliseconds) = 0;
};

struct PassesResult {
    bool forceReboot = false;
    bool rebootDeletion = false;
    // Something was scheduled for deletion at reboot in the last pass.
    bool rebootNeeded = false;
    wstring question;
    wstring warning;
    int passes = 0;  // passes walked
};

// Up to 60 passes over the list (the list shrinks as entries go), 500 ms
// apart, until a pass leaves nothing to retry.  A path that fails and holds
// both "klp" and ".tmp_dir" (an extraction directory of the launcher) is
// scheduled for deletion at reboot at once and not retried; in the 60th
// pass, with reboot deletion asked for, every path that still fails is
// scheduled.  A path is scheduled once, however often it fails.  A path with
// a NUL character in it is never handed to Windows, which would read only
// its beginning: it counts as gone.  The texts are read in the first pass
// only and cut to fit their buffers.
PassesResult runDeletionPasses(std::vector<wstring> lines, PassActions& actions);

// The effects of the end.
class EndingActions {
public:
    virtual ~EndingActions() = default;
    // True when Windows accepted the restart request.
    virtual bool requestRestart() = 0;
    // The question with Yes and No; true for Yes.
    virtual bool askQuestion(const wstring& text) = 0;
    virtual void showWarning(const wstring& text) = 0;
    // Creates the temporary-area marker, schedules it for deletion at reboot
    // and, when that worked, records it as the reboot check file.
    virtual void recordRebootCheck() = 0;
};

enum class Ending {
    nothing,          // nothing to reboot for
    restarted,        // the restart was requested and accepted
    restartFailed,    // the restart was refused (the warning shown when it is long enough)
    rebootCheckOnly,  // the user said No, or there was no question to ask
};

// What the helper does after the passes.
Ending finishDeletion(const PassesResult& passes, EndingActions& actions);

}  // namespace deletion
