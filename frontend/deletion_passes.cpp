#include "frontend/deletion_passes.h"

#include <set>

namespace deletion {

namespace {

enum class Section { wait, mode, files, directories };

Section nextSection(Section section) {
    switch (section) {
        case Section::wait: return Section::mode;
        case Section::mode: return Section::files;
        default: return Section::directories;
    }
}

bool startsWith(const wstring& line, const wchar* prefix) {
    const std::size_t n = wideLength(prefix);
    return line.size() >= n && line.compare(0, n, prefix) == 0;
}

bool contains(const wstring& text, const wchar* part) { return text.find(part) != wstring::npos; }

// An extraction directory of the launcher (or a path inside one): it goes to
// the deletion at reboot after its first failure instead of being retried.
bool isExtractionPath(const wstring& path) { return contains(path, W("klp")) && contains(path, W(".tmp_dir")); }

// The lines joined with "\n", cut to fit a buffer of kTextBuffer characters;
// a cut never leaves half of a surrogate pair at the end.
wstring joinText(const std::vector<wstring>& lines) {
    wstring text;
    for (std::size_t i = 0; i < lines.size() && text.size() < kTextBuffer; ++i) {
        if (i > 0) text += W('\n');
        text += lines[i];
    }
    if (text.size() > kTextBuffer - 1) {
        text.resize(kTextBuffer - 1);
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    return text;
}

// The text lines from `at` up to the next line beginning with "EOSMARKER",
// which is consumed too.  False when the list ends first.
bool collectText(const std::vector<wstring>& lines, std::size_t& at, std::vector<wstring>& text) {
    for (; at < lines.size(); ++at) {
        if (startsWith(lines[at], W("EOSMARKER"))) {
            ++at;
            return true;
        }
        text.push_back(lines[at]);
    }
    return false;
}

class Passes {
public:
    Passes(std::vector<wstring> lines, PassActions& actions) : lines_(std::move(lines)), actions_(actions) {}

    PassesResult run() {
        for (int pass = 1; pass <= kPasses && !lines_.empty(); ++pass) {
            if (pass > 1) actions_.sleep(kPassPauseMilliseconds);
            result_.passes = pass;
            if (!walk(pass)) break;
        }
        return result_;
    }

private:
    // One walk from the top of the list; true when something needs a retry.
    bool walk(int pass) {
        bool retry = false;
        Section section = Section::wait;
        std::size_t at = 0;
        while (at < lines_.size()) {
            const wstring& line = lines_[at];
            if (line.empty()) {
                section = nextSection(section);
                ++at;
                continue;
            }
            switch (section) {
                case Section::wait:
                    actions_.waitForSemaphore(line);
                    section = Section::mode;
                    ++at;
                    break;
                case Section::mode:
                    if (!readMode(pass, at)) return retry;  // the list ended inside the texts
                    section = Section::files;
                    break;
                case Section::files:
                case Section::directories:
                    if (removeEntry(pass, at, section == Section::files, retry)) ++at;
                    break;
            }
        }
        return retry;
    }

    // The mode line at `at` and both texts after it; `at` ends after the
    // second marker.  False when the list ends before it.
    bool readMode(int pass, std::size_t& at) {
        const wstring& mode = lines_[at];
        if (mode == W("force_reboot")) {
            result_.forceReboot = true;
            result_.rebootDeletion = true;
        } else {
            result_.rebootDeletion = mode == W("reboot_deletion");
        }
        ++at;
        std::vector<wstring> question, warning;
        const bool complete = collectText(lines_, at, question) && collectText(lines_, at, warning);
        if (pass == 1) {
            result_.question = joinText(question);
            result_.warning = joinText(warning);
        }
        return complete;
    }

    // One file or directory line; true when the line stays in the list.
    bool removeEntry(int pass, std::size_t at, bool isFile, bool& retry) {
        const wstring path = lines_[at];
        Removal removal = Removal::gone;
        if (path.find(W('\0')) == wstring::npos)
            removal = isFile ? actions_.deleteFile(path) : actions_.removeDirectory(path);
        if (removal != Removal::failed) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
            return false;
        }
        if (isExtractionPath(path)) {
            scheduleAtReboot(path);
            return true;
        }
        retry = true;
        if (pass == kPasses && result_.rebootDeletion && scheduleAtReboot(path) && isFile) result_.rebootNeeded = true;
        return true;
    }

    bool scheduleAtReboot(const wstring& path) {
        if (scheduled_.count(path)) return true;
        if (!actions_.scheduleAtReboot(path)) return false;
        scheduled_.insert(path);
        return true;
    }

    std::vector<wstring> lines_;
    PassActions& actions_;
    PassesResult result_;
    std::set<wstring> scheduled_;
};

// Asks Windows to restart; when it refuses, shows the warning if there is one.
Ending restart(const PassesResult& passes, EndingActions& actions) {
    if (actions.requestRestart()) return Ending::restarted;
    if (passes.warning.size() > kShortText) actions.showWarning(passes.warning);
    return Ending::restartFailed;
}

}  // namespace

PassesResult runDeletionPasses(std::vector<wstring> lines, PassActions& actions) {
    return Passes(std::move(lines), actions).run();
}

Ending finishDeletion(const PassesResult& passes, EndingActions& actions) {
    if (passes.forceReboot) return restart(passes, actions);
    if (!passes.rebootNeeded) return Ending::nothing;
    if (passes.question.size() > kShortText && actions.askQuestion(passes.question)) return restart(passes, actions);
    actions.recordRebootCheck();
    return Ending::rebootCheckOnly;
}

}  // namespace deletion
