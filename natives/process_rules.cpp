#include "natives/process_rules.h"

#include <utility>

namespace processes {

std::u16string entryPrefix(std::uint32_t pid) {
    const std::int64_t value = static_cast<std::int32_t>(pid);
    std::u16string digits;
    std::uint64_t magnitude = value < 0 ? static_cast<std::uint64_t>(-value) : static_cast<std::uint64_t>(value);
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits.insert(digits.begin(), u'-');
    digits.push_back(u' ');
    return digits;
}

bool namesTemporaryImage(std::u16string_view entry) {
    constexpr std::u16string_view suffix = u".tmp";
    return entry.size() > suffix.size() && entry.substr(entry.size() - suffix.size()) == suffix;
}

std::vector<std::u16string> environmentEntries(const char16_t* block, std::size_t limitChars) {
    std::vector<std::u16string> entries;
    if (!block) return entries;
    std::size_t position = 0;
    while (position < limitChars && block[position] != u'\0') {
        std::size_t end = position;
        while (end < limitChars && block[end] != u'\0') ++end;
        if (end == limitChars) break;  // cut by the limit: not an entry
        entries.emplace_back(block + position, end - position);
        position = end + 1;
    }
    return entries;
}

bool TitleChoice::offer(std::u16string_view title, bool visible) {
    if (title.empty()) return false;
    title_.assign(title);
    return visible;
}

CloseRequests::CloseRequests(std::vector<std::uint32_t> pids)
    : pids_(std::move(pids)), answered_(pids_.size(), false) {}

bool CloseRequests::takeWindow(std::uint32_t pid) {
    bool listed = false;
    for (std::size_t i = 0; i < pids_.size(); ++i) {
        if (pids_[i] == pid) {
            answered_[i] = true;
            listed = true;
        }
    }
    return listed;
}

int CloseRequests::result() const {
    for (bool answered : answered_)
        if (!answered) return kNotTerminated;
    return result_;
}

int waitResultCode(std::uint32_t waitResult, std::uint32_t timeoutValue) {
    if (waitResult == 0) return kTerminated;
    return waitResult == timeoutValue ? kWaitTimedOut : kWaitFailed;
}

}  // namespace processes
