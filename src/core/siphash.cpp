// SipHash-1-3 under the all-zero key: one compression round per 8-byte word,
// three finalization rounds. This is the interpreter's bytes hash with a zero
// seed, so values computed here can be compared with hash(b"...") there. The
// streaming form keeps up to seven pending bytes packed little-endian in one
// word, which makes appending a 32-bit value a couple of shifts.
#include "siphash.hpp"

#include <bit>
#include <cstring>

namespace velarto::core {

namespace {

// k0 = k1 = 0, so the initial words are the bare constants.
constexpr std::uint64_t kInit0 = 0x736f6d6570736575ULL;
constexpr std::uint64_t kInit1 = 0x646f72616e646f6dULL;
constexpr std::uint64_t kInit2 = 0x6c7967656e657261ULL;
constexpr std::uint64_t kInit3 = 0x7465646279746573ULL;

struct State {
    std::uint64_t v0, v1, v2, v3;

    inline void round() {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }

    inline void compress(std::uint64_t word) {
        v3 ^= word;
        round();
        v0 ^= word;
    }

    // `last` holds the 0..7 trailing bytes; the total length's low byte goes on top.
    inline std::uint64_t finish(std::uint64_t last, std::uint64_t total) {
        compress(last | (total << 56));
        v2 ^= 0xff;
        round();
        round();
        round();
        return v0 ^ v1 ^ v2 ^ v3;
    }
};

inline std::uint64_t load_le64(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

// The last 1..7 bytes of a message, little-endian.
inline std::uint64_t load_tail(const unsigned char* p, std::size_t size) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < size; ++i)
        word |= std::uint64_t{p[i]} << (8 * i);
    return word;
}

} // namespace

SipHash13::SipHash13() : v0_(kInit0), v1_(kInit1), v2_(kInit2), v3_(kInit3) {}

void SipHash13::update(const void* data, std::size_t size) {
    if (size == 0)
        return;
    const auto* p = static_cast<const unsigned char*>(data);
    total_bytes_ += size;
    State s{v0_, v1_, v2_, v3_};
    if (tail_size_ != 0) {
        while (tail_size_ < 8 && size != 0) {
            tail_ |= std::uint64_t{*p++} << (8 * tail_size_++);
            --size;
        }
        if (tail_size_ < 8)
            return; // state words untouched
        s.compress(tail_);
        tail_ = 0;
        tail_size_ = 0;
    }
    for (; size >= 8; size -= 8, p += 8)
        s.compress(load_le64(p));
    tail_ = load_tail(p, size);
    tail_size_ = static_cast<unsigned>(size);
    v0_ = s.v0;
    v1_ = s.v1;
    v2_ = s.v2;
    v3_ = s.v3;
}

void SipHash13::update_u32_le(std::uint32_t value) {
    total_bytes_ += 4;
    const unsigned shift = 8 * tail_size_;
    if (tail_size_ < 4) {
        tail_ |= std::uint64_t{value} << shift;
        tail_size_ += 4;
        return;
    }
    // 4..7 bytes pending: the low bytes of `value` complete a word.
    State s{v0_, v1_, v2_, v3_};
    s.compress(tail_ | (std::uint64_t{value} << shift));
    v0_ = s.v0;
    v1_ = s.v1;
    v2_ = s.v2;
    v3_ = s.v3;
    tail_size_ -= 4;
    // shift >= 32 here, so 64 - shift <= 32 and the right shift is well defined.
    tail_ = tail_size_ == 0 ? 0 : std::uint64_t{value} >> (64 - shift);
}

std::uint64_t SipHash13::finish() const {
    State s{v0_, v1_, v2_, v3_};
    return s.finish(tail_, total_bytes_);
}

std::uint64_t siphash13(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t size = bytes.size();
    State s{kInit0, kInit1, kInit2, kInit3};
    for (; size >= 8; size -= 8, p += 8)
        s.compress(load_le64(p));
    return s.finish(load_tail(p, size), bytes.size());
}

} // namespace velarto::core
