#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "UT_String.h"
#include "UT_StringArray.h"
#include "UT_Vector3.h"

UT_String::UT_String(const char* value) : text(value ? value : ""), present(value != nullptr) {}

UT_String& UT_String::operator=(const char* value) {
    present = value != nullptr;
    text = value ? value : "";
    return *this;
}

void UT_String::append(const char* more) {
    present = true;
    if (more)
        text += more;
}

void UT_String::itoa(long long value) {
    present = true;
    text = std::to_string(value);
}

bool UT_String::operator==(const char* other) const {
    if (!present || !other)
        return !present && !other;
    return text == other;
}

long long UT_StringArray::append(const char* value) {
    items.emplace_back(value);
    return entries() - 1;
}

long long UT_Vector3Array::append(const UT_Vector3& key) {
    items.push_back(key);
    return entries() - 1;
}

void UT_Vector3Array::setEntries(long long count) {
    items.resize(count > 0 ? static_cast<size_t>(count) : 0);
}

long long UT_Vector3Array::find(const UT_Vector3& key, long long start) const {
    for (long long i = std::max(0LL, start); i < entries(); ++i) {
        const UT_Vector3& v = items[static_cast<size_t>(i)];
        if (v[0] == key[0] && v[1] == key[1] && v[2] == key[2])
            return i;
    }
    return -1;
}

void UT_Vector3Array::sort(UT_Vector3Compare compare) {
    // Bottom-up merge sort: every pass touches each element once and the number of passes is
    // fixed by the size, so no comparator can make it loop or leave the array.
    const size_t n = items.size();
    if (n < 2)
        return;
    std::vector<UT_Vector3> buffer(n);
    UT_Vector3* from = items.data();
    UT_Vector3* to = buffer.data();
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = std::min(lo + width, n);
            const size_t hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                // Stable: the right element goes first only when it sorts strictly before.
                if (compare(&from[j], &from[i]) < 0) {
                    to[k++] = from[j++];
                } else {
                    to[k++] = from[i++];
                }
            }
            while (i < mid)
                to[k++] = from[i++];
            while (j < hi)
                to[k++] = from[j++];
        }
        std::swap(from, to);
    }
    if (from != items.data())
        std::copy(from, from + n, items.data());
}
