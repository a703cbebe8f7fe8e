#include "natives/service_rules.h"

namespace services {

namespace {

bool equalsAscii(std::basic_string_view<wchar> text, std::string_view ascii) {
    if (text.size() != ascii.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != static_cast<wchar>(static_cast<unsigned char>(ascii[i]))) return false;
    return true;
}

}  // namespace

bool isLocalSystemAlias(std::basic_string_view<wchar> account) {
    return equalsAscii(account, "NT AUTHORITY\\System") || equalsAscii(account, "NT AUTHORITY\\LocalSystem");
}

std::optional<wstring> dependencyList(std::basic_string_view<wchar> dependencies) {
    constexpr std::size_t kCapacity = kDependencyBufferBytes / sizeof(wchar);
    wstring list;
    std::size_t start = 0;
    while (start <= dependencies.size()) {
        std::size_t comma = dependencies.find(wchar(','), start);
        if (comma == std::basic_string_view<wchar>::npos) comma = dependencies.size();
        if (comma > start) {
            list.append(dependencies.substr(start, comma - start));
            list.push_back(wchar(0));
            // The closing NUL must still fit.
            if (list.size() + 1 > kCapacity) return std::nullopt;
        }
        start = comma + 1;
    }
    // No names: an empty first string and the closing NUL.
    if (list.empty()) list.push_back(wchar(0));
    list.push_back(wchar(0));
    return list;
}

std::optional<FailureActions> failureActions(bool restart, std::int32_t count) {
    FailureActions actions;
    if (restart && count != 0) {
        if (count < 0 || count > kMaxRestarts) return std::nullopt;
        actions.types.assign(static_cast<std::size_t>(count), kActionRestart);
        actions.types.push_back(kActionNone);
        actions.count = static_cast<std::uint32_t>(count) + 1;
    } else {
        actions.types.push_back(kActionRestart);
        actions.count = restart ? 1 : 0;
    }
    return actions;
}

StopWait::StopWait(std::uint32_t now, const ServiceProgress& first, std::int32_t timeoutMilliseconds)
    : start_(now),
      lastProgress_(now),
      checkPoint_(first.checkPoint),
      timeout_(timeoutMilliseconds < 0 ? 0 : static_cast<std::uint32_t>(timeoutMilliseconds)) {}

bool StopWait::keepWaiting(std::uint32_t now, const ServiceProgress& status) {
    if (status.state == kStateStopped) return false;
    if (status.checkPoint > checkPoint_) {
        lastProgress_ = now;
        checkPoint_ = status.checkPoint;
        return true;
    }
    const std::uint32_t sinceProgress = now - lastProgress_;
    const std::uint32_t sinceStart = now - start_;
    return sinceProgress <= status.waitHint || sinceStart <= timeout_;
}

}  // namespace services
