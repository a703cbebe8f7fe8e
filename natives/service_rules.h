// The service natives' decisions that need no Windows: their result codes,
// the account names that mean the local system, the comma-separated
// dependency list, the failure actions of the restart configuration and the
// wait for a stopping service.  Text is UTF-16 (`wchar`, launcher/text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "launcher/text.h"

namespace services {

// Results besides 0 (success) and the Win32 error codes.
constexpr int kManagerUnavailable = 5000;  // the service control manager could not be opened
constexpr int kStopTimedOut = 50001;       // the stop wait gave up, the service is not stopped
constexpr int kStopQueryFailed = 50002;    // the status could not be read while waiting
constexpr int kNoFailureActionsCall = 1;   // advapi32.dll has no ChangeServiceConfig2W
// What a refused argument gives (ERROR_INVALID_PARAMETER).
constexpr int kInvalidParameter = 87;

// Service states and failure action types, numbered as Windows numbers them.
constexpr std::uint32_t kStateStopped = 1;
constexpr std::uint32_t kActionNone = 0;
constexpr std::uint32_t kActionRestart = 1;

// QueryServiceConfigW answers into a buffer of this many bytes; a larger
// configuration is refused by Windows (ERROR_INSUFFICIENT_BUFFER).
constexpr std::size_t kConfigBufferBytes = 8192;
// The dependency list with all its NULs fits this many bytes.
constexpr std::size_t kDependencyBufferBytes = 16384;
// The most restarts one restart configuration installs: far more than any
// installer asks for, and few enough that the action array stays small.
constexpr std::int32_t kMaxRestarts = 1000;
// How long the stop wait sleeps between two status queries.
constexpr std::uint32_t kStopPollMilliseconds = 500;

// Whether an account name means the local system account: exactly
// "NT AUTHORITY\System" or "NT AUTHORITY\LocalSystem" (case matters), which
// changeServiceConfig0 hands to Windows as "LocalSystem".
bool isLocalSystemAlias(std::basic_string_view<wchar> account);

// The double-NUL-terminated list of the names between the commas of
// `dependencies`, in order; empty names (adjacent commas, a comma at either
// end) are skipped and blanks are kept.  No names give two NULs.  None when
// the list would not fit kDependencyBufferBytes.
std::optional<wstring> dependencyList(std::basic_string_view<wchar> dependencies);

// The failure actions of a restart configuration: the action types in order
// and the count handed to Windows (which may be smaller than the array: a
// count of 0 with an action present deletes the service's failure actions).
struct FailureActions {
    std::vector<std::uint32_t> types;
    std::uint32_t count = 0;
};
// With the restart flag and a nonzero count: `count` restarts and a final
// "none"; otherwise one restart, counted only when the flag is set.  None for
// a count below 0 or above kMaxRestarts with the flag set (the array would
// have no room or no bound).
std::optional<FailureActions> failureActions(bool restart, std::int32_t count);

// One status of a service, as the stop wait sees it.
struct ServiceProgress {
    std::uint32_t state = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// The stop wait's decision after each status.  Tick counts are milliseconds
// that wrap at 2^32; differences are taken unsigned, so they stay right
// across the wrap.
class StopWait {
public:
    // Starts at `now` with the first status.  A negative time-out counts as 0:
    // the wait then lasts only as long as the service shows progress.
    StopWait(std::uint32_t now, const ServiceProgress& first, std::int32_t timeoutMilliseconds);
    // Whether to query again after `status`, read at `now`: a grown check
    // point is progress; otherwise waiting goes on while the time since the
    // last progress is within the status's wait hint or the time since the
    // start within the time-out.  A stopped service ends the wait.
    bool keepWaiting(std::uint32_t now, const ServiceProgress& status);

private:
    std::uint32_t start_;
    std::uint32_t lastProgress_;
    std::uint32_t checkPoint_;
    std::uint32_t timeout_;
};

// The wait for a service that was sent the stop control: 0 when it stopped,
// kStopTimedOut when the wait gave up first, kStopQueryFailed when a status
// could not be read.
//   query(ServiceProgress&) -> bool   reads the status
//   sleep(std::uint32_t ms)           waits
//   tick() -> std::uint32_t           milliseconds now
template <typename Query, typename Sleep, typename Tick>
int waitForStop(Query query, Sleep sleep, Tick tick, std::int32_t timeoutMilliseconds) {
    ServiceProgress status;
    if (!query(status)) return kStopQueryFailed;
    StopWait wait(tick(), status, timeoutMilliseconds);
    while (status.state != kStateStopped) {
        sleep(kStopPollMilliseconds);
        if (!query(status)) return kStopQueryFailed;
        if (!wait.keepWaiting(tick(), status)) break;
    }
    return status.state == kStateStopped ? 0 : kStopTimedOut;
}

}  // namespace services
