#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tabulon::engine::xls {

// The password the application uses for workbooks that are only protected against changes;
// it opens them without asking.
inline constexpr std::u16string_view kDefaultPassword = u"VelvetSweatshop";

// RC4 decryption of a BIFF8 workbook stream (FILEPASS with RC4 or RC4 CryptoAPI). The key
// changes every 1024 bytes of the stream, counted from the stream's start, record headers
// included, so bytes are decrypted by their offset in the stream.
class Rc4Decryptor {
public:
    // Returns null when the FILEPASS record names another scheme (XOR obfuscation, AES) or
    // when `password` does not open the file.
    static std::unique_ptr<Rc4Decryptor> create(std::string_view filepass, std::u16string_view password);
    ~Rc4Decryptor();
    Rc4Decryptor(const Rc4Decryptor&);

    void apply(uint64_t offset, uint8_t* data, size_t size);

private:
    Rc4Decryptor();
    void rekey(uint32_t block);

    bool m_cryptoApi = false;
    std::vector<uint8_t> m_base;  // the password hash the block keys derive from
    size_t m_keyBytes = 16;
    struct State;
    std::unique_ptr<State> m_state;
    uint32_t m_block = 0;
    uint64_t m_pos = UINT64_MAX;  // stream offset the cipher state stands at
};

}  // namespace tabulon::engine::xls
