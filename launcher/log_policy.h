// Decisions of the launch log that need no file system: where a new log goes,
// whether it is kept, and the elapsed-time prefix of every line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "launcher/text.h"

// "[%d:%d] " with whole seconds and the remaining milliseconds, not zero-padded.
wstring elapsedPrefix(std::int64_t elapsedMilliseconds);

// "%stvx_nlog_%d.log" in `base` (a backslash appended unless it ends with "\" or
// "/"; "c:\" when empty), numbered with the first of 1..1000 that does not exist;
// number 1000 is taken (and overwritten) when 1..999 all exist.
wstring chooseLogFileName(const wstring& base, const std::function<bool(const wstring&)>& exists);

// The log survives a normal end when the log switch was given or KELPA_LOG or
// TOVRIX_LOG is exactly "yes".  Null pointers stand for unset variables.
bool logKeptByRequest(bool switchGiven, const char* kelpaLog, const char* tovrixLog);

// Is this word the log switch (only as the first argument after the program)?
bool isLogSwitch(const wstring& word);
