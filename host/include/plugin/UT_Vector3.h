#pragma once

#include <cstddef>
#include <vector>

#include "HOST_API.h"

class HOST_API UT_Vector3 {
  public:
    UT_Vector3() = default;
    UT_Vector3(float x, float y, float z) : vec{x, y, z} {}
    float& operator[](int i) { return vec[i]; }
    float operator[](int i) const { return vec[i]; }
    float x() const { return vec[0]; }
    float y() const { return vec[1]; }
    float z() const { return vec[2]; }

  private:
    float vec[3] = {0.0f, 0.0f, 0.0f};
};

// Comparator form taken by UT_Vector3Array::sort: negative places `a` before `b`.
typedef int (*UT_Vector3Compare)(const UT_Vector3* a, const UT_Vector3* b);

class HOST_API UT_Vector3Array {
  public:
    // Appends `key`; returns its index.
    long long append(const UT_Vector3& key);
    long long entries() const { return static_cast<long long>(items.size()); }
    // Changes the entry count; storage is kept when shrinking.
    void setEntries(long long count);
    // Lowest index >= `start` whose three floats equal `key`'s by float ==, or -1. NaN never
    // matches.
    long long find(const UT_Vector3& key, long long start = 0) const;
    // Stable merge sort. Terminates and stays inside the array for any comparator, even one that
    // is not a consistent ordering (such as one fed NaN components).
    void sort(UT_Vector3Compare compare);

    UT_Vector3& operator()(long long i) { return items[static_cast<size_t>(i)]; }
    const UT_Vector3& operator()(long long i) const { return items[static_cast<size_t>(i)]; }
    const UT_Vector3* data() const { return items.data(); }
    size_t capacity() const { return items.capacity(); }

  private:
    std::vector<UT_Vector3> items;
};
