#pragma once

#include <string>
#include <vector>

#include "HOST_API.h"
#include "UT_String.h"

// An array of owned texts; absent texts stay absent.
class HOST_API UT_StringArray {
  public:
    // Appends a copy of `text`; returns its index.
    long long append(const char* text);
    void clear() { items.clear(); }
    long long entries() const { return static_cast<long long>(items.size()); }
    // Element `i`, which must be in range.
    const UT_String& operator()(long long i) const { return items[static_cast<size_t>(i)]; }

  private:
    std::vector<UT_String> items;
};
