#pragma once

#include <cstddef>
#include <vector>

// An array of borrowed pointers whose slots start null.
template <typename T>
class UT_PtrArray {
  public:
    // Inserts a null slot at `index` (clamped to the end); returns the slot's index.
    long long insert(long long index) {
        if (index < 0 || index > entries())
            index = entries();
        slots.insert(slots.begin() + index, nullptr);
        return index;
    }
    long long entries() const { return static_cast<long long>(slots.size()); }
    // Changes the entry count; new slots are null and storage is kept when shrinking.
    void setEntries(long long count) { slots.resize(static_cast<size_t>(count), nullptr); }
    T& operator()(long long i) { return slots[static_cast<size_t>(i)]; }
    T operator()(long long i) const { return slots[static_cast<size_t>(i)]; }
    size_t capacity() const { return slots.capacity(); }

  private:
    std::vector<T> slots;
};
