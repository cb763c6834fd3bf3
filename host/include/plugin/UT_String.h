#pragma once

#include <string>

#include "HOST_API.h"

// A text value that may be absent. Absent (null) text differs from empty text: parameter reads
// of instances that do not exist give absent text.
class HOST_API UT_String {
  public:
    UT_String() = default;
    // Copies `text`; null gives absent text.
    UT_String(const char* text);  // NOLINT(google-explicit-constructor): host style
    UT_String(const UT_String& other) = default;
    UT_String& operator=(const UT_String& other) = default;
    UT_String& operator=(const char* text);

    // Null when the text is absent, otherwise a zero-terminated copy owned by this string.
    const char* buffer() const { return present ? text.c_str() : nullptr; }
    bool isAbsent() const { return !present; }
    // True for present text whose first character is the terminator.
    bool isEmpty() const { return present && text.empty(); }

    // Appends `more` (nothing when null); absent text becomes present first.
    void append(const char* more);
    // Replaces the text with `value` in decimal, without leading zeros.
    void itoa(long long value);

    // Absent text equals only null; present text compares by characters.
    bool operator==(const char* other) const;
    bool operator!=(const char* other) const { return !(*this == other); }

  private:
    std::string text;
    bool present = false;
};
