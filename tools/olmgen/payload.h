#pragma once
// The bytes of one archive member: given literally, or produced on demand from a seed so that a
// gigabyte of attachment data never sits in memory. Either way the same payload always yields
// the same bytes.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace parvelle::olmgen {

class Payload {
public:
    Payload() = default;
    // Implicit on purpose: a fixture can write `attachment.content = "hello"`.
    Payload(std::string bytes) : literal_(std::move(bytes)) {}
    Payload(const char* bytes) : literal_(bytes) {}

    // `size` bytes of pseudo-random data from a 64-bit seed.
    static Payload pseudoRandom(std::uint64_t size, std::uint64_t seed);

    std::uint64_t size() const { return generated_ ? size_ : literal_.size(); }
    // Hands the bytes to `sink` in order, in chunks of at most kChunkSize bytes.
    void forEachChunk(const std::function<void(std::string_view)>& sink) const;
    // All bytes at once; for tests and small payloads.
    std::string bytes() const;
    // zlib's CRC-32 of the bytes.
    std::uint32_t crc32() const;

    static constexpr std::size_t kChunkSize = 1 << 20;

private:
    std::string literal_;
    std::uint64_t size_ = 0;
    std::uint64_t seed_ = 0;
    bool generated_ = false;
};

// Seeded pseudo-random numbers (SplitMix64): fast, and identical on every platform, which
// std::mt19937 with the standard distributions is not.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    // Uniform in [low, high] (inclusive).
    std::uint64_t between(std::uint64_t low, std::uint64_t high);
    // True with probability percent / 100.
    bool chance(unsigned percent) { return between(0, 99) < percent; }

private:
    std::uint64_t state_;
};

} // namespace parvelle::olmgen
