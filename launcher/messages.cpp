#include "launcher/messages.h"

wstring boundText(wstring text) {
    if (text.size() > kTextLimit) text.resize(kTextLimit);
    return text;
}

wstring substitutePlaceholder(const wstring& text, const wstring& argument) {
    const std::size_t at = text.find(W("{0}"));
    if (at == wstring::npos) return boundText(text);
    wstring out = text.substr(0, at);
    out += argument;
    out.append(text, at + 3, wstring::npos);
    return boundText(out);
}

wstring withLogPath(const wstring& message, const wstring& logPath) {
    if (logPath.empty()) return boundText(message);
    return boundText(message + W("\n\nLog: ") + logPath);
}
