#include "launcher/log_policy.h"

#include <cstring>

#include "launcher/format.h"

wstring elapsedPrefix(std::int64_t elapsedMilliseconds) {
    return formatWide(W("[%d:%d] "), static_cast<int>(elapsedMilliseconds / 1000),
                      static_cast<int>(elapsedMilliseconds % 1000));
}

wstring chooseLogFileName(const wstring& base, const std::function<bool(const wstring&)>& exists) {
    wstring directory = base.empty() ? wstring(W("c:\\")) : base;
    const wchar last = directory.back();
    if (last != W('\\') && last != W('/')) directory += W('\\');
    wstring name;
    for (int number = 1; number <= 1000; ++number) {
        name = formatWide(W("%stvx_nlog_%d.log"), directory.c_str(), number);
        if (!exists(name)) break;
    }
    return name;  // number 1000 when 1..999 (and 1000) all exist
}

bool logKeptByRequest(bool switchGiven, const char* kelpaLog, const char* tovrixLog) {
    if (switchGiven) return true;
    if (kelpaLog && std::strcmp(kelpaLog, "yes") == 0) return true;
    return tovrixLog && std::strcmp(tovrixLog, "yes") == 0;
}

bool isLogSwitch(const wstring& word) {
    return word == W("-create-tvx-log") || word == W("-create-klp-log") || word == W("/create-tvx-log") ||
           word == W("/create-klp-log");
}
