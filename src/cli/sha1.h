// SHA-1, for the digest by which --diff tells apart lines too long to hold whole: two such
// lines are the same when their lengths and digests are.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace parvello {

class Sha1 {
public:
    void add(const unsigned char* bytes, size_t size) {
        length_ += size;
        if (filled_ > 0) {
            const size_t taken = std::min(size, sizeof block_ - filled_);
            std::memcpy(block_ + filled_, bytes, taken);
            filled_ += taken;
            bytes += taken;
            size -= taken;
            if (filled_ < sizeof block_)
                return;
            compress(block_);
            filled_ = 0;
        }
        for (; size >= sizeof block_; bytes += sizeof block_, size -= sizeof block_)
            compress(bytes);
        std::memcpy(block_, bytes, size);
        filled_ = size;
    }

    // The 20 bytes of the digest of everything added.
    std::string result() {
        const std::uint64_t bits = length_ * 8;
        static constexpr unsigned char pad[64] = {0x80};
        add(pad, 1 + (119 - filled_) % 64);
        unsigned char tail[8];
        for (int i = 0; i < 8; ++i)
            tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        add(tail, 8);
        std::string digest(20, '\0');
        for (int i = 0; i < 20; ++i)
            digest[size_t(i)] = char(state_[size_t(i / 4)] >> (24 - 8 * (i % 4)));
        return digest;
    }

private:
    static std::uint32_t rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

    void compress(const unsigned char* block) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
                   std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
        for (int i = 16; i < 80; ++i)
            w[i] = rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f = 0;
            std::uint32_t k = 0;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t t = rotate(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotate(b, 30);
            b = a;
            a = t;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
        state_[4] += e;
    }

    std::array<std::uint32_t, 5> state_ = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                           0xC3D2E1F0};
    std::uint64_t length_ = 0;
    unsigned char block_[64] = {};
    size_t filled_ = 0;
};

} // namespace parvello
