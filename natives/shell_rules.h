// The shell-link and task-dialog natives' decisions that need no Windows:
// the task dialog's flags, button ids and result, its owner and icon taken
// from the Java arguments, the step of its z-order timer, and path texts
// taken from byte arrays.  Text is UTF-16 (`wstring`, launcher/text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "launcher/text.h"

namespace shell {

// ---- Task dialog

// Flags added to the Java side's (Windows' TDF_* numbers): the main icon is a
// handle, and the callback gets a timer tick about every 200 ms; positioning
// relative to the owner only when the owner is shown (given, not minimised).
constexpr std::uint32_t kFlagUseIconHandle = 0x2;       // TDF_USE_HICON_MAIN
constexpr std::uint32_t kFlagCallbackTimer = 0x800;     // TDF_CALLBACK_TIMER
constexpr std::uint32_t kFlagRelativeToOwner = 0x1000;  // TDF_POSITION_RELATIVE_TO_WINDOW
std::uint32_t taskDialogFlags(std::int32_t javaFlags, bool ownerShown);

// Custom buttons get the ids 101, 102, ... in the order of the Java array;
// the Java side names the default button by its index.
constexpr int kFirstButtonId = 101;
int buttonId(std::size_t index);
int defaultButtonId(std::int32_t defaultButtonIndex);

// show0's result: 0 when task dialogs are not available; 1 for the first
// custom button, 2 for the second, ...; 1000 when the dialog was closed
// without a custom button or could not be shown; negated when the
// verification box was ticked.
constexpr int kResultUnavailable = 0;
constexpr int kResultNoCustomButton = 1000;
int taskDialogResult(int pressedButtonId, bool verificationChecked);

// The owner window of a Java owner value: its low 32 bits (window handles
// are 32-bit values in 32- and 64-bit processes alike); 0 means none.
std::uint32_t ownerBits(std::int64_t owner);
// The standard icon a Java icon value names: its low 16 bits, a resource id
// such as 32515 (the warning icon).
std::uint16_t iconResource(std::int32_t icon);

// The z-order timer places the dialog behind its owner on every tick; from
// the sixth tick on (ticks counted from 1) without activating it.
constexpr unsigned kFirstTickWithoutActivation = 6;
bool placeWithoutActivating(unsigned tick);

// ---- Path texts in byte arrays

// The 8-bit text at the start of `bytes`, up to its first NUL or the end.
std::string narrowTextOfBytes(const unsigned char* bytes, std::size_t size);

}  // namespace shell
