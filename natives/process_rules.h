// The process and window natives' decisions that need no Windows: the entry
// text of a running process, the entries of an environment block, which
// window title of a process is reported, and the close-and-wait bookkeeping
// of a graceful termination with its result codes.  Text is UTF-16 as
// char16_t (wchar_t on Windows has the same layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace processes {

// ---- Process entries ("<pid> <image path>")

// An entry is built in a buffer of this many characters, its NUL included;
// a path that does not fit behind the id is not cut but leaves the process out.
constexpr std::size_t kEntryBufferChars = 4096;

// The id as the entry begins with it: decimal as a signed 32-bit number, and
// one blank.
std::u16string entryPrefix(std::uint32_t pid);

// Whether an entry names a temporary image: longer than four characters and
// ending in ".tmp", compared case-sensitively.  Such a path is looked up a
// second way (the main module's file name).
bool namesTemporaryImage(std::u16string_view entry);

// ---- Environment block

// The entries of an environment block (NUL-terminated strings up to the
// empty one), unchanged, the ones whose name begins with '=' included.  Reads
// at most `limitChars` characters: an entry cut by the limit is left out, so
// a block without its closing NUL is never read past the limit.
std::vector<std::u16string> environmentEntries(const char16_t* block, std::size_t limitChars);

// ---- Window titles

// The title getWindowTitle0 reports for one process, offered window by
// window in enumeration order: the first visible window with a title wins;
// failing that, the last invisible window with a title.
class TitleChoice {
public:
    // Offers a window's title; true when the enumeration can stop (a visible
    // window with a title).  An empty title is passed over.
    bool offer(std::u16string_view title, bool visible);
    const std::u16string& title() const { return title_; }

private:
    std::u16string title_;
};

// ---- Graceful termination

// Result codes of terminateProcesses0.
constexpr int kTerminated = 1;     // all ended (or, forced, were ended)
constexpr int kNotTerminated = 0;  // a process could not be ended, had no visible window, or a close request failed
constexpr int kWaitFailed = 2;     // a process could not be opened for the wait, or the wait failed
constexpr int kWaitTimedOut = 3;   // the time-out elapsed

// Close requests to the visible top-level windows of a list of processes:
// which windows get one, which list entries had one, and the result so far.
// An id may occur more than once; every entry of it counts as answered by
// one window of that process.
class CloseRequests {
public:
    explicit CloseRequests(std::vector<std::uint32_t> pids);
    // A visible top-level window of process `pid`: true when a close request
    // is to be posted to it (the process is listed); marks its entries.
    bool takeWindow(std::uint32_t pid);
    // A close request could not be posted.
    void postFailed() { result_ = kNotTerminated; }
    // The result once all windows were seen: kNotTerminated when a request
    // failed or a listed process had no visible window, else kTerminated
    // (the wait comes next).
    int result() const;
    const std::vector<std::uint32_t>& pids() const { return pids_; }

private:
    std::vector<std::uint32_t> pids_;
    std::vector<bool> answered_;
    int result_ = kTerminated;
};

// The result code of the wait for all processes, from what the wait
// returned: 0 (all signalled) keeps kTerminated, the time-out value gives
// kWaitTimedOut, anything else kWaitFailed.
int waitResultCode(std::uint32_t waitResult, std::uint32_t timeoutValue);

}  // namespace processes
