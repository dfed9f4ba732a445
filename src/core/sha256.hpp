// SHA-256 (FIPS 180-4), streaming, with a run-time choice between the CPU's
// SHA instructions and a portable implementation. Both paths give identical
// digests, so only the two backend functions below can tell them apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velarto::core {

using Digest = std::array<std::uint8_t, 32>;

// Equality in four word compares: `==` on the arrays calls memcmp, a call per
// node in the scans that compare a type's digest.
inline bool same_digest(const Digest& a, const Digest& b) {
    std::uint64_t x[4], y[4];
    std::memcpy(x, a.data(), sizeof x);
    std::memcpy(y, b.data(), sizeof y);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3])) == 0;
}

enum class Sha256Backend { Automatic, Portable, Hardware };

// Whether this CPU offers the SHA extensions used by the hardware path.
bool sha256_hardware_available();
// Pins the backend for the whole process. Hardware falls back to Portable on
// a CPU without the extensions. Returns the backend now in use. Only the
// engine tests call it: it is how they run both block functions on one CPU.
Sha256Backend set_sha256_backend(Sha256Backend wanted);
// The backend hashing uses now, making the automatic choice if nothing has
// yet. Only the engine tests call it: with it they check that the automatic
// choice takes the hardware path wherever the CPU has it, a slip no digest shows.
Sha256Backend sha256_backend_in_use();

class Sha256 {
public:
    Sha256();
    void update(const void* data, std::size_t size);
    void update(std::string_view text) { update(text.data(), text.size()); }
    Digest finish(); // the object must not be used afterwards

private:
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_;
    std::size_t block_used_ = 0;
    std::uint64_t total_bytes_ = 0;
};

// 64 lower-case hexadecimal digits, most significant nibble first.
void digest_to_hex(const Digest& digest, char out[64]);

} // namespace velarto::core
