#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vorn_io/trace.h"

namespace vorn_io::detail {

/// A device's trace: the samples of one motion, the latest `kTraceCapacity`
/// of them at most. Numbered from 0 since the last `Clear`; once full, a new
/// sample replaces the oldest, which is counted as dropped. Not thread-safe:
/// its owner guards it.
template <typename Sample>
class TraceRing {
 public:
  /// Room for `samples` (at most `kTraceCapacity`) without allocating. The
  /// only call that allocates; keeps the samples held, in order.
  void Reserve(std::size_t samples) {
    samples = std::min(samples, kTraceCapacity);
    if (samples <= slots_.size()) {
      return;
    }
    std::rotate(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(head_), slots_.end());
    head_ = 0;
    slots_.resize(samples);
  }

  /// Starts a new motion; the storage stays.
  void Clear() {
    head_ = 0;
    kept_ = 0;
    dropped_ = 0;
    ++generation_;
  }

  /// Adds a sample; never allocates. Without any room it is only counted.
  void Push(const Sample& sample) {
    if (slots_.empty()) {
      ++dropped_;
      return;
    }
    if (kept_ < slots_.size()) {
      slots_[(head_ + kept_) % slots_.size()] = sample;
      ++kept_;
      return;
    }
    slots_[head_] = sample;
    head_ = (head_ + 1) % slots_.size();
    ++dropped_;
  }

  /// The newest sample kept; only when `Kept()` is above 0.
  [[nodiscard]] const Sample& Newest() const { return slots_[(head_ + kept_ - 1) % slots_.size()]; }
  [[nodiscard]] bool Full() const { return kept_ == slots_.size(); }
  [[nodiscard]] std::size_t Capacity() const { return slots_.size(); }
  [[nodiscard]] std::size_t Kept() const { return kept_; }
  /// Samples of this motion that were not kept.
  [[nodiscard]] std::uint64_t Dropped() const { return dropped_; }
  /// The number of the oldest sample kept, and the one after the newest.
  [[nodiscard]] std::uint64_t Oldest() const { return dropped_; }
  [[nodiscard]] std::uint64_t End() const { return dropped_ + kept_; }
  /// Changes with every `Clear`, so that a reader copying in parts sees a new motion.
  [[nodiscard]] std::uint64_t Generation() const { return generation_; }

  /// Appends samples `from` to `to` (numbers, `Oldest()` <= from <= to <= `End()`) to `out`.
  void CopyTo(std::vector<Sample>& out, std::uint64_t from, std::uint64_t to) const {
    for (std::uint64_t number = from; number < to; ++number) {
      out.push_back(slots_[(head_ + static_cast<std::size_t>(number - dropped_)) % slots_.size()]);
    }
  }

 private:
  std::vector<Sample> slots_;
  std::size_t head_ = 0;  ///< the slot of the oldest sample
  std::size_t kept_ = 0;
  std::uint64_t dropped_ = 0;
  std::uint64_t generation_ = 0;
};

}  // namespace vorn_io::detail
