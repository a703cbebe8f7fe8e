// The configuration block reader and the integrity check over an installer
// image in memory.  Input: one byte of choices (bit 0: checking enabled, bits
// 1-3: the user's locale), then the image: PE headers, the block, the payload.
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/config_block.h"
#include "launcher/config_store.h"
#include "launcher/payload.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/unit/block_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const kLocales[] = {"en_US", "de_DE", "de_AT", "de", "", "pt_BR", "no_NO_NY", "x"};
    const unsigned choices = data[0];
    const std::string locale = kLocales[(choices >> 1) & 7];
    const std::vector<unsigned char> image(data + 1, data + size);

    {
        MemorySource source(image);
        BlockReader reader(source);
        ConfigStore store;
        int asked = 0;
        const LoadResult result = readConfigurationBlock(reader, store, [&] {
            ++asked;
            return locale;
        });
        FUZZ_CHECK(asked <= 1);
        if (result.failure == ReadFailure::None && !result.badMagic) {
            FUZZ_CHECK(store.payloadOffset >= 0 && store.payloadOffset <= static_cast<std::int64_t>(image.size()));
            // What extraction does next with the names it was given, reading
            // the count the way the launcher does.
            configStore() = store;
            const int wanted = getConfigInt(config::kPayloadCount);
            for (const std::string& name : payloadNamesToExtract(getConfigStringCopy(config::kPayloadNames), wanted)) {
                isSafePayloadName(name);
                payloadDirectoryPart(name);
            }
            configStore() = ConfigStore();
        }
    }
    {
        MemorySource source(image);
        BlockReader reader(source);
        int last = 0;
        const IntegrityResult result = checkIntegrity(reader, (choices & 1) != 0, [&](int percent) {
            FUZZ_CHECK(percent > last && percent <= 100);
            last = percent;
        });
        if (result.checked && !result.readFailed) FUZZ_CHECK(last == 100 || last == 0);
    }
    return 0;
}
