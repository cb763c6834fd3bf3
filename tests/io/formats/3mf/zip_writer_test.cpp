// The package writer: plain ZIP unless a size needs ZIP64, entries that a ZIP library reads back
// with their checksums, and a model whose text does not depend on where its chunks are cut.

#include <HOST_Internals.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "io/formats/3mf/3mf.h"
#include "io/formats/3mf/zip_writer.h"
#include "io/formats/stl/stl.h"
#include "io/text/text_chunks.h"
#include "support/package_files.h"
#include "test_geometry.h"

namespace hueslice::io {
namespace {

bool hasZip64(const std::string& package) {
    // The ZIP64 end record, or a version-needed of 4.5 in any header.
    return package.find(std::string("PK\x06\x06", 4)) != std::string::npos ||
           package.find(std::string("PK\x03\x04\x2d\x00", 6)) != std::string::npos ||
           package.find(std::string("PK\x01\x02\x2d\x00", 6)) != std::string::npos;
}

// The CRC the central directory gives entry `name`, to hold against the text's own.
std::uint32_t storedCrc(const std::string& package, const std::string& name) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(package.data(), package.size(), 0, &error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_stat_t stat;
    zip_stat_init(&stat);
    const bool found = archive && zip_stat(archive, name.c_str(), 0, &stat) == 0;
    if (archive)
        zip_discard(archive);
    else
        zip_source_free(source);
    return found ? stat.crc : 0;
}

std::uint32_t crcOf(const std::string& text) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

struct PackageCase {
    const char* label;
    std::uint64_t limit;  // sizes and offsets from here on need ZIP64
    bool zip64;
};

class ZipPackage : public ::testing::TestWithParam<PackageCase> {};

TEST_P(ZipPackage, EntriesReadBackWholeWithZip64OnlyWhereSizesNeedIt) {
    const std::string big(100000, 'x');
    const std::string text = "streamed text in three pieces, the last one ending it";
    std::string package;
    const TextSink sink = [&package](std::string_view bytes) { package.append(bytes); };
    detail::ZipWriter zip(sink, GetParam().limit);
    zip.addEntry("whole.txt", big);
    zip.beginEntry("pieces.txt", text.size());
    for (const auto& [from, size] : {std::pair{0, 10}, {10, 0}, {10, 43}}) {
        detail::TextBuffer deflated;
        const detail::PieceSum sum = detail::deflatePiece(
            text.substr(from, size), from + size == int(text.size()) && size, deflated);
        zip.addPiece(deflated.text(), sum);
    }
    zip.endEntry();
    zip.addEntry("last.txt", "");
    zip.finish();
    EXPECT_EQ(hasZip64(package), GetParam().zip64);
    // libzip checks each entry's CRC as it reads it.
    EXPECT_EQ(package_files::zipEntry(package, "whole.txt"), big);
    EXPECT_EQ(package_files::zipEntry(package, "pieces.txt"), text);
    EXPECT_EQ(storedCrc(package, "pieces.txt"), crcOf(text));
    EXPECT_EQ(storedCrc(package, "whole.txt"), crcOf(big));
    EXPECT_EQ(package_files::zipEntry(package, "last.txt").size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Limits, ZipPackage,
                         ::testing::Values(PackageCase{"plain", 0xFFFFFFFFull, false},
                                           PackageCase{"bigEntries", 50, true},
                                           PackageCase{"farOffsets", 1000, true},
                                           PackageCase{"everything", 0, true}),
                         [](const auto& c) { return std::string(c.param.label); });

// Pieces deflated on their own and joined are one raw deflate stream that ends with the last.
TEST(DeflatePieces, JoinedPiecesInflateToTheTextAndEndThere) {
    const std::string text = std::string(70000, 'a') + "then some text, then the end";
    detail::TextBuffer joined;
    detail::deflatePiece(std::string_view(text).substr(0, 70000), false, joined);
    detail::deflatePiece(std::string_view(text).substr(70000), true, joined);
    const std::string deflated(joined.text());
    std::string inflated(text.size() + 16, '\0');
    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, -15), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    stream.next_out = reinterpret_cast<Bytef*>(inflated.data());
    stream.avail_out = static_cast<uInt>(inflated.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u);  // nothing after the end
    inflated.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(inflated, text);
}

// A common import library crashed on any package with ZIP64 records.
TEST(ThreeMfPackage, SmallPackageHasNoZip64Records) {
    const WrittenFile file = write3mf(testing::makeSquare(), {}, "out.3mf");
    EXPECT_FALSE(hasZip64(file.bytes));
    EXPECT_EQ(file.bytes.substr(0, 2), "PK");
}

// Parts of one face each and faces in no group with their own colours, so that chunks of any
// size are cut among every kind of line.
GU_Detail manyParts() {
    GU_Detail geo;
    for (int i = 0; i < 12; ++i) {
        const float x = static_cast<float>(i) - 0.1234567f;
        geo.appendPoint(UT_Vector3(x, -2.5f, 0));
        geo.appendPoint(UT_Vector3(x + 1, -2.5f, 1e7f));
        geo.appendPoint(UT_Vector3(x + 1, 1, -0.0000004f));
        geo.appendPoint(UT_Vector3(x, 1, 0));
        const unsigned quad[4] = {4u * i, 4u * i + 1, 4u * i + 2, 4u * i + 3};
        geo.appendPrimitive(quad, 4);
        testing::setColour(geo, i, static_cast<float>(i % 3) / 2, 0, 1);
        if (i % 4 != 3) {
            const std::string name = "part " + std::to_string(i) + (i == 1 ? " <&>" : "");
            HOST_Internals::addMember(*geo.primitiveGroups().newGroup(name.c_str()),
                                      static_cast<unsigned>(i));
        }
    }
    return geo;
}

std::string modelOf(const GU_Detail& geo) {
    return package_files::zipEntry(write3mf(geo, {}, "out.3mf").bytes, "3D/3dmodel.model");
}

std::string stlOf(const GU_Detail& geo) {
    return writeStl(geo, "out.stl").bytes;
}

// The writers that cut their text into chunks, and how many lines a chunk holds.
class ChunkedWriters
    : public ::testing::TestWithParam<std::tuple<std::string (*)(const GU_Detail&), std::size_t>> {
};

TEST_P(ChunkedWriters, BytesDoNotDependOnWhereChunksAreCut) {
    const auto [write, lines] = GetParam();
    const GU_Detail geo = manyParts();
    const std::string whole = write(geo);
    const detail::ChunkShape saved = detail::chunkShape();
    detail::chunkShape() = {lines, 2};
    const std::string cut = write(geo);
    detail::chunkShape() = saved;
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(cut, whole);
}

INSTANTIATE_TEST_SUITE_P(LinesPerChunk, ChunkedWriters,
                         ::testing::Combine(::testing::Values(modelOf, stlOf),
                                            ::testing::Values(1, 2, 3, 7, 40)));

TEST(ThreeMfModel, CoordinatesNamesAndOwnColoursAsWritten) {
    const std::string model = modelOf(manyParts());
    EXPECT_NE(model.find(R"(<vertex x="-0.123456" y="-2.5" z="0"/>)"), std::string::npos);
    EXPECT_NE(model.find(R"(<vertex x="0.876543" y="-2.5" z="10000000"/>)"), std::string::npos);
    EXPECT_NE(model.find(R"(name="part 1 &lt;&amp;&gt;")"), std::string::npos);
    EXPECT_NE(model.find(R"(<triangle v1="4" v2="6" v3="7" pid="1" p1="10"/>)"), std::string::npos);

    GU_Detail control = testing::makeSquare();
    HOST_Internals::addMember(*control.primitiveGroups().newGroup("bell\x07"), 0);
    const WrittenFile file = write3mf(control, {}, "out.3mf");
    EXPECT_THAT(file.notes, ::testing::Contains("out.3mf: group 'bell\\x07' named with U+FFFD "
                                                "for what XML cannot hold"));
    EXPECT_NE(package_files::zipEntry(file.bytes, "3D/3dmodel.model").find("bell\xEF\xBF\xBD"),
              std::string::npos);
}

}  // namespace
}  // namespace hueslice::io
