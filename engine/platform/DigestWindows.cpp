#include "Digest.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <stdexcept>

namespace tabulon::engine::platform {
namespace {

template <size_t N>
std::array<uint8_t, N> hash(LPCWSTR algorithm, const uint8_t* data, size_t size)
{
    std::array<uint8_t, N> out{};
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0) != 0)
        throw std::runtime_error("the system's cryptography cannot compute a hash");
    BCRYPT_HASH_HANDLE handle = nullptr;
    bool ok = BCryptCreateHash(provider, &handle, nullptr, 0, nullptr, 0, 0) == 0;
    // The API takes sizes as ULONG; feed large inputs in pieces.
    while (ok && size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        ok = BCryptHashData(handle, const_cast<PUCHAR>(data), piece, 0) == 0;
        data += piece;
        size -= piece;
    }
    ok = ok && BCryptFinishHash(handle, out.data(), N, 0) == 0;
    if (handle)
        BCryptDestroyHash(handle);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (!ok)
        throw std::runtime_error("the system's cryptography cannot compute a hash");
    return out;
}

}  // namespace

std::array<uint8_t, 16> md5(const uint8_t* data, size_t size)
{
    return hash<16>(BCRYPT_MD5_ALGORITHM, data, size);
}

std::array<uint8_t, 20> sha1(const uint8_t* data, size_t size)
{
    return hash<20>(BCRYPT_SHA1_ALGORITHM, data, size);
}

// RC4 goes through the older CryptoAPI: CNG's RC4 is missing from some Windows
// implementations (Wine among them), while every one has the enhanced provider's.
struct Rc4::State {
    HCRYPTPROV provider = 0;
    HCRYPTKEY key = 0;
    ~State()
    {
        if (key)
            CryptDestroyKey(key);
        if (provider)
            CryptReleaseContext(provider, 0);
    }
};

namespace {
HCRYPTPROV acquireProvider()
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        throw std::runtime_error("the system's cryptography has no RC4 cipher");
    return provider;
}
}  // namespace

Rc4::Rc4(const std::array<uint8_t, 16>& key) : m_state(std::make_unique<State>())
{
    m_state->provider = acquireProvider();
    struct {
        BLOBHEADER header;
        DWORD size;
        BYTE key[16];
    } blob{};
    blob.header.bType = PLAINTEXTKEYBLOB;
    blob.header.bVersion = CUR_BLOB_VERSION;
    blob.header.aiKeyAlg = CALG_RC4;
    blob.size = static_cast<DWORD>(key.size());
    std::copy(key.begin(), key.end(), blob.key);
    if (!CryptImportKey(m_state->provider, reinterpret_cast<const BYTE*>(&blob), sizeof blob, 0, 0, &m_state->key))
        throw std::runtime_error("the system's cryptography refuses an RC4 key");
}

Rc4::Rc4(const Rc4& other) : m_state(std::make_unique<State>())
{
    // The copy keeps the provider alive for as long as its key lives.
    if (!CryptContextAddRef(other.m_state->provider, nullptr, 0))
        throw std::runtime_error("the system's cryptography cannot copy an RC4 key");
    m_state->provider = other.m_state->provider;
    if (!CryptDuplicateKey(other.m_state->key, nullptr, 0, &m_state->key))
        throw std::runtime_error("the system's cryptography cannot copy an RC4 key");
}

Rc4::~Rc4() = default;

void Rc4::apply(uint8_t* data, size_t size)
{
    while (size > 0) {
        DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!CryptDecrypt(m_state->key, 0, FALSE, 0, data, &piece))
            throw std::runtime_error("the system's cryptography cannot decrypt");
        data += piece;
        size -= piece;
    }
}

}  // namespace tabulon::engine::platform
