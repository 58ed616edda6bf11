#include "Inflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace tabulon::engine::platform {
namespace {

class ZlibInflater final : public RawInflater {
public:
    ZlibInflater()
    {
        if (inflateInit2(&m_z, -MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
    }
    ~ZlibInflater() override { inflateEnd(&m_z); }

    void setInput(const char* data, size_t size) override
    {
        m_z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_z.avail_in = static_cast<uInt>(size);
    }

    size_t pendingInput() const override { return m_z.avail_in; }

    Status inflate(char* out, size_t size, size_t& written) override
    {
        m_z.next_out = reinterpret_cast<Bytef*>(out);
        m_z.avail_out = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        const uInt before = m_z.avail_out;
        const int rc = ::inflate(&m_z, Z_NO_FLUSH);
        written = before - m_z.avail_out;
        m_crc = crc32(m_crc, out, written);
        if (rc == Z_STREAM_END)
            return Status::End;
        return rc == Z_OK || rc == Z_BUF_ERROR ? Status::Ok : Status::Invalid;
    }

    uint32_t crc() const override { return m_crc; }

private:
    z_stream m_z{};
    uint32_t m_crc = 0;
};

}  // namespace

std::unique_ptr<RawInflater> RawInflater::create()
{
    return std::make_unique<ZlibInflater>();
}

uint32_t crc32(uint32_t crc, const char* data, size_t size)
{
    while (size > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        crc = static_cast<uint32_t>(::crc32(crc, reinterpret_cast<const Bytef*>(data), n));
        data += n;
        size -= n;
    }
    return crc;
}

}  // namespace tabulon::engine::platform
