// The random numbers with which a judgment asked outside a run samples its answers: xoshiro256**, its four
// state words taken from SplitMix64 started at a seed. Inside a run draws come from the run's journal instead,
// so that they replay; these are never recorded.
#pragma once

#include <array>
#include <cstdint>

namespace dravelin::zem {

class Xoshiro256StarStar {
 public:
  using State = std::array<uint64_t, 4>;

  explicit constexpr Xoshiro256StarStar(const State& state) : s_(state) {}

  // The state words are the first four outputs of SplitMix64 started at `seed`.
  static constexpr Xoshiro256StarStar from_seed(uint64_t seed) {
    State state{};
    for (uint64_t k = 1; k <= 4; ++k) {
      uint64_t z = seed + k * 0x9E3779B97F4A7C15u;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
      state[k - 1] = z ^ (z >> 31);
    }
    return Xoshiro256StarStar(state);
  }

  // Advances one step and returns its 64 output bits.
  constexpr uint64_t next_u64() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }

  // Advances one step and returns a number in [0, 1): the top 53 output bits over 2^53.
  constexpr double next_f64() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

  constexpr const State& state() const { return s_; }

 private:
  static constexpr uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  State s_;
};

}  // namespace dravelin::zem
