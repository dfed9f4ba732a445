// SHA-256 (FIPS 180-4), streaming, with a run-time choice between the CPU's
// SHA instructions and a portable implementation. Both paths give identical
// digests; `set_sha256_backend` exists so that tests can pin either one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velarto::core {

using Digest = std::array<std::uint8_t, 32>;

enum class Sha256Backend { Automatic, Portable, Hardware };

// Whether this CPU offers the SHA extensions used by the hardware path.
bool sha256_hardware_available();
// Pins the backend for the whole process (tests only). Hardware falls back to
// Portable on a CPU without the extensions. Returns the backend now in use.
Sha256Backend set_sha256_backend(Sha256Backend wanted);

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

Digest sha256(std::string_view bytes);

// 64 lower-case hexadecimal digits, most significant nibble first.
void digest_to_hex(const Digest& digest, char out[64]);
std::string digest_to_hex(const Digest& digest);

namespace detail {
// Compresses `blocks` consecutive 64-byte blocks into `state`. The hardware
// variant lives in sha256_x86.cpp, the only file built with SHA intrinsics.
void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks);
void sha256_blocks_hardware(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks);
bool sha256_cpu_has_sha_extensions();
} // namespace detail

} // namespace velarto::core
