#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>

#include "capture/SlabMemory.h"

namespace qhs {

// An array of plain values with a fixed capacity, taken from slab memory once: it never moves
// or copies its values to grow, untouched room costs no memory, and touched room comes in huge
// pages where the memory offers them (a million rows fault in four pages instead of 2,000).
// When the memory cannot be had the array has no room at all: capacity() is 0 and every
// insertion fails, as on a full array.
// Asks a SlabArray for all of its values from the start, as zeros.
struct AllZeroValues {};
inline constexpr AllZeroValues AllZero{};

template <typename T>
class SlabArray {
    static_assert(std::is_trivially_copyable_v<T>);

  public:
    SlabArray(SlabMemory& memory, std::size_t capacity)
        : memory_(memory),
          values_(reinterpret_cast<T*>(memory.obtain(capacity * sizeof(T)))),
          capacity_(values_ != nullptr ? capacity : 0) {}
    // Holds `capacity` values from the start, all zero (slab memory comes zeroed, so no page
    // is touched until a value is written): an array indexed by slot.
    SlabArray(SlabMemory& memory, std::size_t capacity, AllZeroValues)
        : SlabArray(memory, capacity) {
        size_ = capacity_;
    }
    ~SlabArray() {
        if (values_ != nullptr) {
            memory_.release(reinterpret_cast<std::uint8_t*>(values_), bytes());
        }
    }
    SlabArray(const SlabArray&) = delete;
    SlabArray& operator=(const SlabArray&) = delete;

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    const T& operator[](std::size_t index) const { return values_[index]; }
    T& operator[](std::size_t index) { return values_[index]; }
    std::span<const T> values() const { return {values_, size_}; }

    // False when full.
    bool pushBack(const T& value) { return insert(size_, value); }
    // Inserts before `index` (at the end when past it); false when full.
    bool insert(std::size_t index, const T& value) {
        if (size_ == capacity_) {
            return false;
        }
        index = std::min(index, size_);
        std::memmove(values_ + index + 1, values_ + index, (size_ - index) * sizeof(T));
        values_[index] = value;
        ++size_;
        return true;
    }
    void erase(std::size_t index) {
        if (index >= size_) {
            return;
        }
        std::memmove(values_ + index, values_ + index + 1, (size_ - index - 1) * sizeof(T));
        --size_;
    }
    // Replaces the values with `values` (cut to the capacity).
    void assign(std::span<const T> values) {
        size_ = 0;
        append(values);
    }
    // Adds as many of `values` as there is room for; how many.
    std::size_t append(std::span<const T> values) {
        const std::size_t count = std::min(values.size(), capacity_ - size_);
        if (count > 0) {
            std::memcpy(values_ + size_, values.data(), count * sizeof(T));
        }
        size_ += count;
        return count;
    }
    // The room past the last value, to be filled and then taken in with grow().
    std::span<T> spare() { return {values_ + size_, capacity_ - size_}; }
    void grow(std::size_t count) { size_ += std::min(count, capacity_ - size_); }
    // Empties the array and hands its touched pages back to the system.
    void clear() {
        if (values_ != nullptr) {
            memory_.discard(reinterpret_cast<std::uint8_t*>(values_), bytes());
        }
        size_ = 0;
    }

  private:
    std::size_t bytes() const { return capacity_ * sizeof(T); }

    SlabMemory& memory_;
    T* values_;
    std::size_t capacity_;
    std::size_t size_ = 0;
};

}  // namespace qhs
