#include "Inflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace tabulon::engine::platform {
namespace {

class IsalInflater final : public RawInflater {
public:
    // Not zeroed: 85 KB of decoding tables that isal_inflate_init and the block headers set
    // up; clearing them would cost more than inflating a small part.
    IsalInflater() : m_state(new inflate_state)
    {
        isal_inflate_init(m_state.get());
        m_state->crc_flag = ISAL_GZIP_NO_HDR;  // raw deflate, CRC-32 of the output kept
    }

    void setInput(const char* data, size_t size) override
    {
        m_state->next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
        m_state->avail_in = static_cast<uint32_t>(size);
    }

    size_t pendingInput() const override { return m_state->avail_in; }

    Status inflate(char* out, size_t size, size_t& written) override
    {
        inflate_state& z = *m_state;
        z.next_out = reinterpret_cast<uint8_t*>(out);
        z.avail_out = static_cast<uint32_t>(std::min<size_t>(size, 1u << 30));
        const uint32_t before = z.avail_out;
        const int rc = isal_inflate(&z);
        written = before - z.avail_out;
        if (rc < 0)
            return Status::Invalid;
        return z.block_state == ISAL_BLOCK_FINISH ? Status::End : Status::Ok;
    }

    uint32_t crc() const override { return m_state->crc; }

private:
    std::unique_ptr<inflate_state> m_state;
};

}  // namespace

std::unique_ptr<RawInflater> RawInflater::create()
{
    return std::make_unique<IsalInflater>();
}

uint32_t crc32(uint32_t crc, const char* data, size_t size)
{
    return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), size);
}

}  // namespace tabulon::engine::platform
