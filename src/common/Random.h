#pragma once
// The battle's source of chance: a 32-bit linear congruential generator whose every
// draw is fixed by its seed, so a seed replays a battle byte for byte on any machine.
// Each battle (or batch of battles) owns one; there is no shared generator.

#include <cstdint>

namespace morvane {

class Random {
public:
    explicit Random(uint32_t seed = 0) : seed_(seed) {}

    uint32_t seed() const { return seed_; }
    void setSeed(uint32_t seed) { seed_ = seed; }

    // A uniform integer from 0 to n - 1 (0 when n is 0).
    uint32_t operator()(uint32_t n) {
        seed_ = seed_ * 134775813u + 1u;
        return static_cast<uint32_t>((static_cast<uint64_t>(seed_) * n) >> 32);
    }

private:
    uint32_t seed_;
};

} // namespace morvane
