#include "qel_hash.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "esl_string.h"
#include "qel_buffer.h"
#include "qel_exception.h"

#define QEL_SOURCE "qel_sha256"

namespace qel {

namespace {

constexpr uint32_t kInitialHash[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}
inline uint32_t Ch(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) ^ (~x & z);
}
inline uint32_t Maj(uint32_t x, uint32_t y, uint32_t z) {
    return (x & y) ^ (x & z) ^ (y & z);
}
inline uint32_t BigSigma0(uint32_t x) {
    return Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22);
}
inline uint32_t BigSigma1(uint32_t x) {
    return Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25);
}
inline uint32_t SmallSigma0(uint32_t x) {
    return Rotr(x, 7) ^ Rotr(x, 18) ^ (x >> 3);
}
inline uint32_t SmallSigma1(uint32_t x) {
    return Rotr(x, 17) ^ Rotr(x, 19) ^ (x >> 10);
}

inline uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// One round. The callers rotate the roles of the eight working variables
// instead of moving their values; kw is the round constant plus the word.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h,
                  uint32_t kw) {
    uint32_t t1 = h + BigSigma1(e) + Ch(e, f, g) + kw;
    d += t1;
    h = t1 + BigSigma0(a) + Maj(a, b, c);
}

// The schedule word of round t in a ring of 16: the block's own words for
// the first 16 rounds, then W(t) = σ1(W(t-2)) + W(t-7) + σ0(W(t-15)) + W(t-16)
// in place of W(t-16).
template <bool kExpand>
inline uint32_t Word(uint32_t w[16], int t) {
    if (!kExpand)
        return w[t];
    return w[t & 15] += SmallSigma1(w[(t + 14) & 15]) + w[(t + 9) & 15] + SmallSigma0(w[(t + 1) & 15]);
}

template <bool kExpand>
inline void EightRounds(uint32_t v[8], uint32_t w[16], int t) {
    uint32_t &a = v[0], &b = v[1], &c = v[2], &d = v[3], &e = v[4], &f = v[5], &g = v[6], &h = v[7];
    Round(a, b, c, d, e, f, g, h, kRoundConstants[t + 0] + Word<kExpand>(w, t + 0));
    Round(h, a, b, c, d, e, f, g, kRoundConstants[t + 1] + Word<kExpand>(w, t + 1));
    Round(g, h, a, b, c, d, e, f, kRoundConstants[t + 2] + Word<kExpand>(w, t + 2));
    Round(f, g, h, a, b, c, d, e, kRoundConstants[t + 3] + Word<kExpand>(w, t + 3));
    Round(e, f, g, h, a, b, c, d, kRoundConstants[t + 4] + Word<kExpand>(w, t + 4));
    Round(d, e, f, g, h, a, b, c, kRoundConstants[t + 5] + Word<kExpand>(w, t + 5));
    Round(c, d, e, f, g, h, a, b, kRoundConstants[t + 6] + Word<kExpand>(w, t + 6));
    Round(b, c, d, e, f, g, h, a, kRoundConstants[t + 7] + Word<kExpand>(w, t + 7));
}

// The FIPS 180-4 compression of count consecutive 64-byte blocks into hash.
void Compress(uint32_t hash[8], const uint8_t* pBlocks, size_t count) {
    for (; count > 0; --count, pBlocks += CSHA256::kBlockSize) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBigEndian(pBlocks + 4 * i);
        uint32_t v[8];
        for (int i = 0; i < 8; ++i)
            v[i] = hash[i];
        EightRounds<false>(v, w, 0);
        EightRounds<false>(v, w, 8);
        for (int t = 16; t < 64; t += 8)
            EightRounds<true>(v, w, t);
        for (int i = 0; i < 8; ++i)
            hash[i] += v[i];
    }
}

}  // namespace

CSHA256::CSHA256() : m_pInner(std::make_unique<Inner>()) {
    m_pInner->_pOwner = this;
    Initialize();
}

CSHA256::~CSHA256() = default;

void CSHA256::Initialize() {
    Inner& s = *m_pInner;
    std::memcpy(s._hash, kInitialHash, sizeof(s._hash));
    s._length = 0;
    std::memset(s._block, 0, sizeof(s._block));
    s._waiting = 0;
    s._bFinished = false;
    std::memset(s._digest, 0, sizeof(s._digest));
}

void CSHA256::Update(const void* pData, size_t count) {
    Inner& s = *m_pInner;
    s._bFinished = false;
    if (count == 0 || !pData)
        return;
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    s._length += count;
    if (s._waiting > 0) {
        size_t take = std::min<size_t>(kBlockSize - s._waiting, count);
        std::memcpy(s._block + s._waiting, p, take);
        s._waiting += static_cast<uint32_t>(take);
        p += take;
        count -= take;
        if (s._waiting < kBlockSize)
            return;
        Compress(s._hash, s._block, 1);
        s._waiting = 0;
    }
    // Whole blocks straight from the caller's bytes: the same result as
    // passing each through the block buffer, without the copy.
    size_t whole = count / kBlockSize;
    Compress(s._hash, p, whole);
    p += whole * kBlockSize;
    count -= whole * kBlockSize;
    std::memcpy(s._block, p, count);
    s._waiting = static_cast<uint32_t>(count);
}

// Pads copies of the running state, so that the message can go on afterwards.
void CSHA256::Finish() {
    Inner& s = *m_pInner;
    uint32_t hash[8];
    std::memcpy(hash, s._hash, sizeof(hash));
    uint8_t block[kBlockSize] = {};
    std::memcpy(block, s._block, s._waiting);
    block[s._waiting] = 0x80;
    size_t used = s._waiting + 1;
    if (used > kBlockSize - 8) {
        Compress(hash, block, 1);
        std::memset(block, 0, sizeof(block));
    }
    uint64_t bits = s._length * 8;
    for (int i = 0; i < 8; ++i)
        block[kBlockSize - 1 - i] = uint8_t(bits >> (8 * i));
    Compress(hash, block, 1);
    for (int i = 0; i < 8; ++i)
        StoreBigEndian(s._digest + 4 * i, hash[i]);
    s._bFinished = true;
}

void CSHA256::GetHash(CHashValue& value) {
    if (!m_pInner->_bFinished)
        Finish();
    value.Set(m_pInner->_digest, kDigestSize);
}

struct CHashValue::Inner {
    CHashValue* _pOwner;
    std::vector<uint8_t> _bytes;
    size_t _count;
    EString _text;
};

CHashValue::CHashValue() : m_pInner(std::make_unique<Inner>()) {
    m_pInner->_pOwner = this;
    m_pInner->_count = 0;
}

CHashValue::~CHashValue() = default;

void CHashValue::Clear() {
    m_pInner->_bytes.clear();
    m_pInner->_bytes.shrink_to_fit();
    m_pInner->_count = 0;
    m_pInner->_text.FreeString();
}

void CHashValue::Set(const void* pBytes, size_t count) {
    Clear();
    if (!pBytes || count == 0)
        return;
    // The text of two digits per byte must fit one string.
    QEL_FAIL_IF(count > size_t(EString::kMaxLength / 2));
    const uint8_t* p = static_cast<const uint8_t*>(pBytes);
    Inner& s = *m_pInner;
    s._bytes.assign(p, p + count);
    s._count = count;
    static const char kDigits[] = "0123456789ABCDEF";
    CBuffer text(static_cast<DWORD>(2 * count + 1), 0, nullptr);
    char* out = static_cast<char*>(text.get());
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[p[i] >> 4];
        out[2 * i + 1] = kDigits[p[i] & 15];
    }
    out[2 * count] = '\0';
    QEL_FAIL_IF(s._text.Assign(out, int(2 * count)) != eslErrorSuccess);
}

const uint8_t* CHashValue::Bytes() const noexcept {
    return m_pInner->_bytes.empty() ? nullptr : m_pInner->_bytes.data();
}

size_t CHashValue::Count() const noexcept {
    return m_pInner->_count;
}

const char* CHashValue::Text() const noexcept {
    return m_pInner->_text.CharPtr();
}

}  // namespace qel
