#include "natives/shell_rules.h"

namespace shell {

std::uint32_t taskDialogFlags(std::int32_t javaFlags, bool ownerShown) {
    std::uint32_t flags = static_cast<std::uint32_t>(javaFlags) | kFlagUseIconHandle | kFlagCallbackTimer;
    if (ownerShown) flags |= kFlagRelativeToOwner;
    return flags;
}

int buttonId(std::size_t index) { return kFirstButtonId + static_cast<int>(index); }

// Computed without signed overflow: an index near the int range wraps the
// way the 32-bit addition of Windows code would, instead of being undefined.
int defaultButtonId(std::int32_t defaultButtonIndex) {
    return static_cast<int>(static_cast<std::uint32_t>(defaultButtonIndex) +
                            static_cast<std::uint32_t>(kFirstButtonId));
}

int taskDialogResult(int pressedButtonId, bool verificationChecked) {
    const int result =
        pressedButtonId > kFirstButtonId - 1 ? pressedButtonId - (kFirstButtonId - 1) : kResultNoCustomButton;
    return verificationChecked ? -result : result;
}

std::uint32_t ownerBits(std::int64_t owner) { return static_cast<std::uint32_t>(owner); }

std::uint16_t iconResource(std::int32_t icon) { return static_cast<std::uint16_t>(icon); }

bool placeWithoutActivating(unsigned tick) { return tick >= kFirstTickWithoutActivation; }

std::string narrowTextOfBytes(const unsigned char* bytes, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size && bytes[i] != 0; ++i) text.push_back(static_cast<char>(bytes[i]));
    return text;
}

}  // namespace shell
