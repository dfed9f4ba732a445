// Drives the engine's SHA-256 and SipHash-1-3 from stdin, one command per
// line, one answer per line on stdout. An empty message is written "-".
//
//   hw                                      -> 1 if the SHA instructions are usable, else 0
//   active                                  -> the backend hashing uses now: portable|hardware
//                                              (as the first command: the automatic choice)
//   sha256 <backend> <hex>                  -> digest hex (backend: portable|hardware|auto),
//                                              the message given to the hasher in one piece
//   sha256chunks <backend> <n>... <hex>     -> digest hex, message fed in pieces of n bytes
//                                              (cycling through the sizes; 0 = empty update)
//   sha256repeat <backend> <count> <hex>    -> digest hex of the message repeated count times
//   siphash <hex>                           -> 64-bit value, 16 hex digits
//   siphashchunks <n>... <hex>              -> same, fed in pieces as above
//   siphashparts <part>...                  -> same, parts "b:<hex>" (bytes) or "u:<decimal>"
//                                              (a 32-bit value appended little-endian)
// A malformed line answers "error: ..." and the harness carries on.
#include "core/sha256.hpp"
#include "core/siphash.hpp"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace velarto::core;

namespace {

std::string from_hex(const std::string& hex) {
    if (hex == "-")
        return {};
    if (hex.size() % 2 != 0)
        throw std::runtime_error("odd hex length");
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::runtime_error("bad hex digit");
    };
    std::string out(hex.size() / 2, '\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(nibble(hex[2 * i]) * 16 + nibble(hex[2 * i + 1]));
    return out;
}

Sha256Backend backend_named(const std::string& name) {
    if (name == "portable") return Sha256Backend::Portable;
    if (name == "hardware") return Sha256Backend::Hardware;
    if (name == "auto") return Sha256Backend::Automatic;
    throw std::runtime_error("unknown backend " + name);
}

std::size_t to_size(const std::string& text) {
    std::size_t used = 0;
    unsigned long long value = std::stoull(text, &used);
    if (used != text.size())
        throw std::runtime_error("bad number " + text);
    return static_cast<std::size_t>(value);
}

std::string hex_of(const Digest& digest) {
    char hex[64];
    digest_to_hex(digest, hex);
    return std::string(hex, 64);
}

std::string u64_hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

// Calls feed(pointer, length) over `message` in pieces of the given sizes, cycling.
template <class Feed>
void in_pieces(const std::string& message, const std::vector<std::size_t>& sizes, Feed feed) {
    if (sizes.empty())
        throw std::runtime_error("no chunk sizes");
    std::size_t pos = 0, turn = 0, idle = 0;
    while (pos < message.size()) {
        std::size_t n = sizes[turn++ % sizes.size()];
        if (n > message.size() - pos)
            n = message.size() - pos;
        feed(message.data() + pos, n);
        pos += n;
        idle = n == 0 ? idle + 1 : 0;
        if (idle > sizes.size())
            throw std::runtime_error("chunk sizes are all zero");
    }
    feed(message.data() + pos, 0); // an empty update at the end must change nothing
}

std::string run(const std::vector<std::string>& words) {
    const std::string& cmd = words.at(0);
    if (cmd == "hw")
        return sha256_hardware_available() ? "1" : "0";
    if (cmd == "active")
        return sha256_backend_in_use() == Sha256Backend::Hardware ? "hardware" : "portable";
    if (cmd == "sha256" && words.size() == 3) {
        set_sha256_backend(backend_named(words[1]));
        Sha256 hasher;
        hasher.update(from_hex(words[2]));
        return hex_of(hasher.finish());
    }
    if (cmd == "sha256chunks" && words.size() >= 4) {
        set_sha256_backend(backend_named(words[1]));
        std::vector<std::size_t> sizes;
        for (std::size_t i = 2; i + 1 < words.size(); ++i)
            sizes.push_back(to_size(words[i]));
        Sha256 hasher;
        in_pieces(from_hex(words.back()), sizes, [&](const char* p, std::size_t n) { hasher.update(p, n); });
        return hex_of(hasher.finish());
    }
    if (cmd == "sha256repeat" && words.size() == 4) {
        set_sha256_backend(backend_named(words[1]));
        std::size_t count = to_size(words[2]);
        std::string unit = from_hex(words[3]);
        Sha256 hasher;
        for (std::size_t i = 0; i < count; ++i)
            hasher.update(unit);
        return hex_of(hasher.finish());
    }
    if (cmd == "siphash" && words.size() == 2)
        return u64_hex(siphash13(from_hex(words[1])));
    if (cmd == "siphashchunks" && words.size() >= 3) {
        std::vector<std::size_t> sizes;
        for (std::size_t i = 1; i + 1 < words.size(); ++i)
            sizes.push_back(to_size(words[i]));
        SipHash13 hasher;
        in_pieces(from_hex(words.back()), sizes, [&](const char* p, std::size_t n) { hasher.update(p, n); });
        return u64_hex(hasher.finish());
    }
    if (cmd == "siphashparts") {
        SipHash13 hasher;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::string& part = words[i];
            if (part.rfind("b:", 0) == 0)
                hasher.update(from_hex(part.substr(2)));
            else if (part.rfind("u:", 0) == 0)
                hasher.update_u32_le(static_cast<std::uint32_t>(to_size(part.substr(2))));
            else
                throw std::runtime_error("bad part " + part);
        }
        return u64_hex(hasher.finish());
    }
    throw std::runtime_error("unknown command or wrong arity: " + cmd);
}

} // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.empty())
            continue;
        try {
            std::cout << run(words) << '\n';
        } catch (const std::exception& failure) {
            std::cout << "error: " << failure.what() << '\n';
        }
    }
    std::cout.flush();
    return 0;
}
