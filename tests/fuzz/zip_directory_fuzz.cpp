// libFuzzer target: any bytes read by the program's own zip directory reader give entries
// whose members read back no more bytes than the file holds, or fail with ZipDirectoryError
// or engine::Error.
#include <cstdint>
#include <cstdlib>

#include "engine/Error.h"
#include "engine/io/ZipDirectoryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tabulon::engine;
    try {
        auto directory = readZipDirectory(FileBytes::borrow(data, size));
        char buffer[4096];
        for (uint64_t i = 0; i < directory->entries().size(); ++i) {
            try {
                auto member = directory->open(i, true);
                uint64_t total = 0;
                while (size_t n = member->read(buffer, sizeof buffer))
                    total += n;
                if (total > size)
                    std::abort();
            } catch (const ZipDirectoryError&) {
            }
        }
    } catch (const ZipDirectoryError&) {
    } catch (const Error&) {
    }
    return 0;
}
