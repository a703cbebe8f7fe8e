#include "frontend/jre_texts.h"

#include "launcher/format.h"
#include "launcher/messages.h"

namespace {

// The message with its first "%S" replaced by `argument` and "%%" read as
// "%"; every other "%" is kept as it stands.
wstring withTextArgument(const wstring& message, const wstring& argument) {
    wstring out;
    bool substituted = false;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const wchar c = message[i];
        if (c == W('%') && i + 1 < message.size()) {
            const wchar next = message[i + 1];
            if (next == W('%')) {
                out += W('%');
                ++i;
                continue;
            }
            if (next == W('S') && !substituted) {
                out += argument;
                substituted = true;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

bool isDigit(wchar c) { return c >= W('0') && c <= W('9'); }

// Skips at most two digits; false when a third follows.
bool skipShortNumber(const wstring& format, std::size_t& i) {
    std::size_t digits = 0;
    while (i < format.size() && isDigit(format[i])) {
        ++i;
        ++digits;
    }
    return digits <= 2;
}

}  // namespace

wstring questionText(const wstring& question, int bits, const std::string& minimumVersion,
                     const std::string& maximumVersion, const wstring& minimumLabel, const wstring& maximumLabel) {
    wstring text = withTextArgument(question, widenBytes(std::to_string(bits)));
    bool appended = false;
    if (!minimumVersion.empty()) {
        text += W(" (") + minimumLabel + W(" ") + widenBytes(minimumVersion);
        appended = true;
    }
    if (!maximumVersion.empty()) {
        text += (appended ? W(", ") : W(" (")) + maximumLabel + W(" ") + widenBytes(maximumVersion);
        appended = true;
    }
    if (appended) text += W(")");
    return boundText(text);
}

const wchar* const kDefaultDownloadStatusFormat = W("%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s");

bool downloadStatusFormatUsable(const wstring& format) {
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != W('%')) continue;
        ++i;
        if (i < format.size() && format[i] == W('%')) continue;
        while (i < format.size() && (format[i] == W('-') || format[i] == W('+') || format[i] == W(' ') ||
                                     format[i] == W('0') || format[i] == W('#')))
            ++i;
        if (!skipShortNumber(format, i)) return false;
        if (i < format.size() && format[i] == W('.')) {
            ++i;
            if (!skipShortNumber(format, i)) return false;
        }
        if (i >= format.size()) return false;
        switch (format[i]) {
            case W('f'):
            case W('e'):
            case W('g'):
            case W('E'):
            case W('G'): break;
            default: return false;
        }
        if (++conversions > 4) return false;
    }
    return true;
}

wstring downloadStatusText(const wstring& format, std::uint64_t received, std::uint64_t length,
                           std::uint32_t elapsedMilliseconds) {
    constexpr double kMegabyte = 1048576.0;
    const double percent = length == 0 ? 100.0 : static_cast<double>(received) * 100.0 / static_cast<double>(length);
    const double rate =
        elapsedMilliseconds == 0 ? 0.0 : static_cast<double>(received) / static_cast<double>(elapsedMilliseconds);
    // The format was checked to take (at most) these four doubles; the
    // parentheses keep the compile-time check for literals out of the way.
    return boundText((formatWide)(format.c_str(), static_cast<double>(received) / kMegabyte,
                                  static_cast<double>(length) / kMegabyte, percent, rate));
}

int downloadBarPosition(std::uint64_t received, std::uint64_t length) {
    if (length == 0) return 100;
    return static_cast<int>(received * 100 / length);
}
