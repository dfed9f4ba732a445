// SHA-256: the portable FIPS 180-4 compression, the streaming buffer around
// it, and the run-time choice of block function. The choice is a single
// atomic function pointer, resolved on first use and read with relaxed
// ordering afterwards, so the hot path pays one load and an indirect call per
// batch of blocks. Tests may pin it with set_sha256_backend.
#include "sha256.hpp"

#include "sha256_blocks.hpp"

#include <atomic>
#include <cstring>

namespace velarto::core {

namespace {

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline std::uint32_t rotr(std::uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

using BlockFunction = void (*)(std::uint32_t*, const std::uint8_t*, std::size_t);

std::atomic<BlockFunction> g_blocks{nullptr};

BlockFunction resolve(Sha256Backend wanted) {
    if (wanted != Sha256Backend::Portable && sha256_hardware_available())
        return &detail::sha256_blocks_hardware;
    return &detail::sha256_blocks_portable;
}

inline BlockFunction active_blocks() {
    BlockFunction f = g_blocks.load(std::memory_order_relaxed);
    if (f == nullptr) [[unlikely]] {
        f = resolve(Sha256Backend::Automatic);
        g_blocks.store(f, std::memory_order_relaxed);
    }
    return f;
}

// Two characters per byte value, built at compile time.
constexpr auto kHexPairs = [] {
    std::array<char, 512> table{};
    constexpr char digits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
        table[2 * i] = digits[i >> 4];
        table[2 * i + 1] = digits[i & 15];
    }
    return table;
}();

} // namespace

namespace detail {

void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks) {
    std::uint32_t w[64];
    for (; blocks != 0; --blocks, data += 64) {
        for (int t = 0; t < 16; ++t)
            w[t] = load_be32(data + 4 * t);
        for (int t = 16; t < 64; ++t) {
            std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            std::uint32_t big1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
            std::uint32_t choose = (e & f) ^ (~e & g);
            std::uint32_t t1 = h + big1 + choose + detail::kSha256Round[t] + w[t];
            std::uint32_t big0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
            std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            std::uint32_t t2 = big0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

} // namespace detail

bool sha256_hardware_available() {
    static const bool available = detail::sha256_cpu_has_sha_extensions();
    return available;
}

Sha256Backend set_sha256_backend(Sha256Backend wanted) {
    BlockFunction f = resolve(wanted);
    g_blocks.store(f, std::memory_order_relaxed);
    return f == &detail::sha256_blocks_hardware ? Sha256Backend::Hardware : Sha256Backend::Portable;
}

Sha256Backend sha256_backend_in_use() {
    return active_blocks() == &detail::sha256_blocks_hardware ? Sha256Backend::Hardware : Sha256Backend::Portable;
}

Sha256::Sha256() : state_(kInitialState) {}

void Sha256::update(const void* data, std::size_t size) {
    if (size == 0)
        return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    total_bytes_ += size;
    BlockFunction blocks = active_blocks();
    if (block_used_ != 0) {
        std::size_t take = 64 - block_used_;
        if (take > size)
            take = size;
        std::memcpy(block_.data() + block_used_, p, take);
        block_used_ += take;
        p += take;
        size -= take;
        if (block_used_ < 64)
            return;
        blocks(state_.data(), block_.data(), 1);
        block_used_ = 0;
    }
    if (size >= 64) {
        std::size_t whole = size / 64;
        blocks(state_.data(), p, whole);
        p += whole * 64;
        size -= whole * 64;
    }
    if (size != 0)
        std::memcpy(block_.data(), p, size);
    block_used_ = size;
}

Digest Sha256::finish() {
    BlockFunction blocks = active_blocks();
    std::uint64_t bits = total_bytes_ * 8;
    block_[block_used_++] = 0x80;
    if (block_used_ > 56) {
        std::memset(block_.data() + block_used_, 0, 64 - block_used_);
        blocks(state_.data(), block_.data(), 1);
        block_used_ = 0;
    }
    std::memset(block_.data() + block_used_, 0, 56 - block_used_);
    store_be32(block_.data() + 56, static_cast<std::uint32_t>(bits >> 32));
    store_be32(block_.data() + 60, static_cast<std::uint32_t>(bits));
    blocks(state_.data(), block_.data(), 1);
    Digest out;
    for (int i = 0; i < 8; ++i)
        store_be32(out.data() + 4 * i, state_[i]);
    return out;
}

void digest_to_hex(const Digest& digest, char out[64]) {
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const char* pair = kHexPairs.data() + 2 * digest[i];
        out[2 * i] = pair[0];
        out[2 * i + 1] = pair[1];
    }
}

} // namespace velarto::core
