#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "io/io.h"

namespace hueslice::io {
namespace {

TEST(Printable, ControlCharactersAndBadBytesBecomeEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain 'name' caf\xc3\xa9", "plain 'name' caf\xc3\xa9"},
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {"\x1b[2J", "\\x1B[2J"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x7f", "\\x7F"},
        {"\xc2\x9b"
         "1m",
         "\\u009B1m"},
        {"\xff\xfe", "\\xFF\\xFE"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(printable(text), shown);
}

}  // namespace
}  // namespace hueslice::io
