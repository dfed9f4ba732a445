// SipHash-1-3 with a 128-bit key of all zero bits, streaming, producing the
// 64-bit value that the interpreter's own bytes hash gives under a zero seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velarto::core {

class SipHash13 {
public:
    SipHash13();
    void update(const void* data, std::size_t size);
    void update(std::string_view text) { update(text.data(), text.size()); }
    void update_u32_le(std::uint32_t value);
    std::uint64_t finish() const;

private:
    std::uint64_t v0_, v1_, v2_, v3_;
    std::uint64_t tail_ = 0;      // pending bytes, little-endian
    unsigned tail_size_ = 0;      // 0..7
    std::uint64_t total_bytes_ = 0;
};

std::uint64_t siphash13(std::string_view bytes);

} // namespace velarto::core
