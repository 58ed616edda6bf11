#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tabulon::engine::platform {

// The hashes and the stream cipher of the RC4 encryption of old workbooks, from the system's
// cryptography (nettle on POSIX systems, the Windows cryptography API on Windows).
std::array<uint8_t, 16> md5(const uint8_t* data, size_t size);
std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size);

class Rc4 {
public:
    explicit Rc4(const std::array<uint8_t, 16>& key);
    Rc4(const Rc4& other);  // the same key and keystream position
    Rc4& operator=(const Rc4&) = delete;
    ~Rc4();

    // Encrypts or decrypts in place; the keystream goes on from call to call.
    void apply(uint8_t* data, size_t size);

    struct State;

private:
    std::unique_ptr<State> m_state;
};

}  // namespace tabulon::engine::platform
