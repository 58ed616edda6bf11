#include "Digest.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>

namespace tabulon::engine::platform {

std::array<uint8_t, 16> md5(const uint8_t* data, size_t size)
{
    md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, size, data);
    std::array<uint8_t, 16> out;
    md5_digest(&ctx, out.size(), out.data());
    return out;
}

std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size)
{
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, size, data);
    std::array<uint8_t, 20> out;
    sha1_digest(&ctx, out.size(), out.data());
    return out;
}

struct Rc4::State {
    arcfour_ctx ctx;
};

Rc4::Rc4(const std::array<uint8_t, 16>& key) : m_state(std::make_unique<State>())
{
    arcfour_set_key(&m_state->ctx, key.size(), key.data());
}

Rc4::Rc4(const Rc4& other) : m_state(std::make_unique<State>(*other.m_state)) {}

Rc4::~Rc4() = default;

void Rc4::apply(uint8_t* data, size_t size)
{
    arcfour_crypt(&m_state->ctx, size, data, data);
}

}  // namespace tabulon::engine::platform
