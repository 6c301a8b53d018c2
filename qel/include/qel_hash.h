// Message digests: an abstract hash algorithm, SHA-256 (FIPS 180-4), and a
// holder of a finished digest as bytes and as upper-case hexadecimal text.
#pragma once

#include <windows.h>

#include <boost/noncopyable.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qel {

class CHashValue;

class IHashAlgorithm {
public:
    // Back to the state of an empty message.
    virtual void Initialize() = 0;
    // Adds count bytes to the message.
    virtual void Update(const void* pData, size_t count) = 0;
    // Stores the digest of the bytes added so far; the message may go on.
    virtual void GetHash(CHashValue& value) = 0;

protected:
    // Objects are destroyed through their own class, never through this one.
    ~IHashAlgorithm() = default;
};

class CSHA256 final : public IHashAlgorithm, boost::noncopyable {
public:
    enum : size_t { kDigestSize = 32, kBlockSize = 64 };

    CSHA256();
    ~CSHA256();

    void Initialize() override;
    void Update(const void* pData, size_t count) override;
    void GetHash(CHashValue& value) override;

private:
    struct Inner {
        CSHA256* _pOwner;
        uint32_t _hash[8];
        // 64 bits rather than 32: a message past 4 GiB still gets its true
        // length in the padding instead of a silently wrong digest.
        uint64_t _length;
        uint8_t _block[kBlockSize];
        uint32_t _waiting;
        bool _bFinished;
        uint8_t _digest[kDigestSize];
    };
    void Finish();

    std::unique_ptr<Inner> m_pInner;
};

class CHashValue : boost::noncopyable {
public:
    CHashValue();
    ~CHashValue();

    // Replaces the content by a copy of count bytes; null or 0 leaves it empty.
    void Set(const void* pBytes, size_t count);
    void Clear();

    const uint8_t* Bytes() const noexcept;
    size_t Count() const noexcept;
    // Two upper-case hexadecimal digits per byte, high half first; "" when empty.
    const char* Text() const noexcept;

private:
    struct Inner;
    std::unique_ptr<Inner> m_pInner;
};

}  // namespace qel
