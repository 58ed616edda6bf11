#include "XlsCrypto.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "../io/ByteCursor.h"
#include "../platform/Digest.h"

namespace tabulon::engine::xls {
namespace {
constexpr uint32_t kBlockSize = 1024;

std::vector<uint8_t> utf16le(std::u16string_view text)
{
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

std::array<uint8_t, 16> md5(const std::vector<uint8_t>& data)
{
    return platform::md5(data.data(), data.size());
}

std::array<uint8_t, 20> sha1(const std::vector<uint8_t>& data)
{
    return platform::sha1(data.data(), data.size());
}
}  // namespace

struct Rc4Decryptor::State {
    std::optional<platform::Rc4> rc4;
};

Rc4Decryptor::Rc4Decryptor() : m_state(std::make_unique<State>()) {}
Rc4Decryptor::~Rc4Decryptor() = default;
Rc4Decryptor::Rc4Decryptor(const Rc4Decryptor& other)
    : m_cryptoApi(other.m_cryptoApi), m_base(other.m_base), m_keyBytes(other.m_keyBytes),
      m_state(std::make_unique<State>(*other.m_state)), m_block(other.m_block), m_pos(other.m_pos)
{
}

void Rc4Decryptor::rekey(uint32_t block)
{
    std::vector<uint8_t> input = m_base;
    for (int i = 0; i < 4; ++i)
        input.push_back(static_cast<uint8_t>(block >> (8 * i)));
    std::array<uint8_t, 16> key{};
    if (m_cryptoApi) {
        const auto h = sha1(input);
        std::memcpy(key.data(), h.data(), m_keyBytes);  // a 40-bit key is padded with zeros to 128 bits
    } else {
        const auto h = md5(input);
        std::memcpy(key.data(), h.data(), 16);
    }
    m_state->rc4.emplace(key);
    m_block = block;
}

std::unique_ptr<Rc4Decryptor> Rc4Decryptor::create(std::string_view filepass, std::u16string_view password)
{
    ByteCursor in(filepass, "", "the encryption record");  // a cut record is caught below
    try {
        if (in.u16() != 1)
            return nullptr;  // XOR obfuscation
        const uint16_t major = in.u16();
        const uint16_t minor = in.u16();
        std::unique_ptr<Rc4Decryptor> d(new Rc4Decryptor);
        const std::vector<uint8_t> pass = utf16le(password);
        std::vector<uint8_t> verifier, verifierHash;
        if (major == 1 && minor == 1) {
            const std::string_view salt = in.bytes(16);
            const auto h0 = md5(pass);
            std::vector<uint8_t> buf;
            for (int i = 0; i < 16; ++i) {
                buf.insert(buf.end(), h0.begin(), h0.begin() + 5);
                buf.insert(buf.end(), salt.begin(), salt.end());
            }
            const auto h1 = md5(buf);
            d->m_base.assign(h1.begin(), h1.begin() + 5);
            const std::string_view v = in.bytes(16), vh = in.bytes(16);
            verifier.assign(v.begin(), v.end());
            verifierHash.assign(vh.begin(), vh.end());
        } else if (major >= 2 && major <= 4 && minor == 2) {
            d->m_cryptoApi = true;
            in.u32();  // flags
            const uint32_t headerSize = in.u32();
            ByteCursor header = in.sub(headerSize);
            header.skip(8);
            const uint32_t algId = header.u32();
            const uint32_t hashId = header.u32();
            uint32_t keyBits = header.u32();
            if ((algId != 0 && algId != 0x6801) || (hashId != 0 && hashId != 0x8004))
                return nullptr;
            if (keyBits == 0)
                keyBits = 40;
            if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
                return nullptr;
            d->m_keyBytes = keyBits / 8;
            if (in.u32() != 16)
                return nullptr;
            const std::string_view salt = in.bytes(16);
            std::vector<uint8_t> buf(salt.begin(), salt.end());
            buf.insert(buf.end(), pass.begin(), pass.end());
            const auto h0 = sha1(buf);
            d->m_base.assign(h0.begin(), h0.end());
            const std::string_view v = in.bytes(16);
            const uint32_t hashSize = in.u32();
            if (hashSize != 20)
                return nullptr;
            const std::string_view vh = in.bytes(20);
            verifier.assign(v.begin(), v.end());
            verifierHash.assign(vh.begin(), vh.end());
        } else {
            return nullptr;
        }
        // The verifier and its hash are encrypted one after the other with block 0's key.
        d->rekey(0);
        d->m_state->rc4->apply(verifier.data(), verifier.size());
        d->m_state->rc4->apply(verifierHash.data(), verifierHash.size());
        bool ok;
        if (d->m_cryptoApi) {
            const auto h = sha1(verifier);
            ok = std::equal(h.begin(), h.end(), verifierHash.begin());
        } else {
            const auto h = md5(verifier);
            ok = std::equal(h.begin(), h.end(), verifierHash.begin());
        }
        if (!ok)
            return nullptr;
        d->m_pos = UINT64_MAX;
        return d;
    } catch (const Error&) {
        return nullptr;  // a cut FILEPASS record: treat as an unknown scheme
    }
}

void Rc4Decryptor::apply(uint64_t offset, uint8_t* data, size_t size)
{
    uint8_t skipBuf[256] = {};
    while (size > 0) {
        const uint32_t block = static_cast<uint32_t>(offset / kBlockSize);
        if (m_pos == UINT64_MAX || block != m_block || offset < m_pos) {
            rekey(block);
            m_pos = uint64_t(block) * kBlockSize;
        }
        while (m_pos < offset) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof skipBuf, offset - m_pos));
            m_state->rc4->apply(skipBuf, n);
            m_pos += n;
        }
        const size_t take = static_cast<size_t>(std::min<uint64_t>(size, uint64_t(block + 1) * kBlockSize - offset));
        m_state->rc4->apply(data, take);
        data += take;
        size -= take;
        offset += take;
        m_pos = offset;
    }
}

}  // namespace tabulon::engine::xls
