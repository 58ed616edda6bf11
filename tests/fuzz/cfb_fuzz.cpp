// libFuzzer target: any bytes opened as a compound file must give streams no larger than the
// file, or fail with engine::Error.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/Error.h"
#include "engine/io/Cfb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tabulon::engine;
    try {
        CompoundFile cfb(FileBytes::borrow(data, size), "fuzz.xls");
        std::vector<uint8_t> buffer;
        for (const auto& name : cfb.rootNames()) {
            auto stream = cfb.stream(name);
            if (!stream)
                continue;
            if (stream->size() > size)
                std::abort();
            buffer.resize(stream->size());
            if (stream->read(0, buffer.data(), buffer.size()) != buffer.size())
                std::abort();
        }
    } catch (const Error&) {
    }
    return 0;
}
