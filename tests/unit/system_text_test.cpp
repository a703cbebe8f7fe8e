#include "launcher/system_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A system function double: answers `text` by one of the two conventions
// Windows uses when the caller's buffer is too small, and counts its calls.
struct FakeCall {
    std::string text;
    bool reportsNeededSize = true;  // false: fills the buffer and returns its size (cut text)
    bool fails = false;
    int calls = 0;

    std::size_t operator()(char* buffer, std::size_t capacity) {
        ++calls;
        if (fails) return 0;
        if (text.size() < capacity) {
            text.copy(buffer, text.size());
            buffer[text.size()] = '\0';
            return text.size();
        }
        if (reportsNeededSize) return text.size() + 1;
        text.copy(buffer, capacity - 1);
        buffer[capacity - 1] = '\0';
        return capacity;
    }
};

}  // namespace

TEST(SystemText, GrowsUntilTheWholeTextFitsAndRefusesPastTheLimit) {
    struct Case {
        std::size_t length;
        bool neededSize;
        std::size_t limit;
        bool found;
    };
    const Case cases[] = {
        {10, true, 6000, true},    {259, true, 6000, true},    {260, true, 6000, true}, {5999, true, 6000, true},
        {6000, true, 6000, false}, {9000, true, 6000, false},  {10, false, 6000, true}, {260, false, 6000, true},
        {5999, false, 6000, true}, {6000, false, 6000, false}, {100, true, 50, false},  {49, false, 50, true},
    };
    for (const Case& c : cases) {
        FakeCall call{std::string(c.length, 'p'), c.neededSize};
        const auto text = fetchSystemText<char>(std::ref(call), c.limit);
        ASSERT_EQ(text.has_value(), c.found) << c.length << " " << c.neededSize;
        if (c.found) {
            EXPECT_EQ(*text, call.text);
        }
        EXPECT_LE(call.calls, 6) << "the buffer grows at least twofold each time";
    }
}

TEST(SystemText, FailureAndEmptyAnswerGiveNoText) {
    FakeCall failing{"anything", true, true};
    EXPECT_FALSE(fetchSystemText<char>(std::ref(failing)).has_value());
    FakeCall empty{""};
    EXPECT_FALSE(fetchSystemText<char>(std::ref(empty)).has_value());
    EXPECT_EQ(systemTextOrEmpty<char>(std::ref(failing)), "");
}
