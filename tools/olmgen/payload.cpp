#include "olmgen/payload.h"

#include <zlib.h>

#include <algorithm>

namespace parvelle::olmgen {

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t Random::between(std::uint64_t low, std::uint64_t high) {
    if (high <= low) {
        return low;
    }
    const std::uint64_t span = high - low + 1;
    return span == 0 ? next() : low + next() % span;
}

Payload Payload::pseudoRandom(std::uint64_t size, std::uint64_t seed) {
    Payload payload;
    payload.size_ = size;
    payload.seed_ = seed;
    payload.generated_ = true;
    return payload;
}

void Payload::forEachChunk(const std::function<void(std::string_view)>& sink) const {
    if (!generated_) {
        for (std::size_t at = 0; at < literal_.size(); at += kChunkSize) {
            sink(std::string_view(literal_).substr(at, kChunkSize));
        }
        return;
    }
    Random random(seed_);
    std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(size_, kChunkSize)), '\0');
    for (std::uint64_t left = size_; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunkSize));
        for (std::size_t i = 0; i < n; i += 8) {
            // Byte by byte, little-endian, so that every platform makes the same bytes.
            const std::uint64_t word = random.next();
            const std::size_t take = std::min<std::size_t>(8, n - i);
            for (std::size_t b = 0; b < take; ++b) {
                chunk[i + b] = static_cast<char>(word >> (8 * b));
            }
        }
        sink(std::string_view(chunk.data(), n));
        left -= n;
    }
}

std::string Payload::bytes() const {
    if (!generated_) {
        return literal_;
    }
    std::string all;
    all.reserve(static_cast<std::size_t>(size_));
    forEachChunk([&](std::string_view chunk) { all.append(chunk); });
    return all;
}

std::uint32_t Payload::crc32() const {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    forEachChunk([&](std::string_view chunk) {
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()),
                      static_cast<uInt>(chunk.size()));
    });
    return static_cast<std::uint32_t>(crc);
}

} // namespace parvelle::olmgen
