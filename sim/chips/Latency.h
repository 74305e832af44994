#pragma once

#include <cstdint>
#include <string>

namespace qrtsim {

// How long a chip stays in one of its busy states (a transfer running, a word being shifted, a
// command being carried out), in the polls the other side makes before it sees the end.
//
// A real chip takes a time within its range, not the same time every time: each busy state
// here draws from the chip's range with a generator seeded from the rig's seed and the chip's
// place on the rig (`qrt-sim --seed N`), so a run is repeatable and another seed gives other
// draws. A chip put at the slow end (the "slow" fault, or the rig file's `slow` key) takes the
// longest its protocol allows the other side to wait: the end shows only at the last poll the
// protocol allows, so a program that gives up sooner fails where a correct one passes.
// Unseeded (seed 0, a model used on its own) a chip takes its typical time every time.
class Latency {
  public:
    explicit Latency(uint64_t seed = 0) { reseed(seed); }
    void reseed(uint64_t seed) { state_ = seed, seeded_ = seed != 0; }
    // A seed for one chip of the rig: the rig's seed mixed with the chip's place ("a/lan0").
    static uint64_t seedFor(uint64_t rigSeed, const std::string& place) {
        uint64_t h = 1469598103934665603ull ^ rigSeed;
        for (unsigned char c : place) h = (h ^ c) * 1099511628211ull;
        return h | 1;
    }
    // The seed of a board's `chip`-th chip (0 stays 0: unseeded).
    static uint64_t chipSeed(uint64_t boardSeed, unsigned chip) {
        return boardSeed == 0 ? 0 : (boardSeed + 0x9E3779B97F4A7C15ull * chip) | 1;
    }
    // A count in [low, high], both included; `typical` when unseeded.
    unsigned draw(unsigned low, unsigned high, unsigned typical) {
        if (!seeded_) return typical;
        if (high <= low) return low;
        return low + unsigned(next() % (uint64_t(high) - low + 1));
    }

  private:
    // splitmix64: small, and the same sequence on every machine.
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t state_ = 0;
    bool seeded_ = false;
};

}  // namespace qrtsim
