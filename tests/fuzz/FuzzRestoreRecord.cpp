// Reads arbitrary bytes as the record of changes to the output. What is accepted names a
// change, holds counts in range, writes back to the same record, and undoes to a level
// between silence and full volume whatever the volume is now.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "triggers/VolumeRestoreRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using hushwell::VolumeRestoreRecord;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto record = VolumeRestoreRecord::FromText(text);
    if (!record) {
        return 0;
    }
    if (record->ChangesNothing() || record->steps < -VolumeRestoreRecord::kMaxSteps ||
        record->steps > VolumeRestoreRecord::kMaxSteps) {
        std::abort();
    }
    const auto again = VolumeRestoreRecord::FromText(record->ToText());
    if (!again || !(*again == *record)) {
        std::abort();
    }
    for (const float current : {0.0f, 0.3f, 1.0f}) {
        const float level =
            VolumeRestoreRecord::RestoredLevel(current, record->steps, record->volumeBefore);
        if (!(level >= 0.0f && level <= 1.0f)) {
            std::abort();
        }
        // Giving back never moves past the volume before the changes.
        if (record->volumeBefore && record->steps < 0 && level > current &&
            level > *record->volumeBefore + 1e-6f) {
            std::abort();
        }
    }
    return 0;
}
