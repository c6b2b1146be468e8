#include "UStream.h"
#include "IMG_Exception.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// Writes n bytes of value b.
void WriteBytes(UBufferStreamWrite& out, uint32_t n, uint8_t b = 0xAB) {
    std::vector<uint8_t> bytes(n, b);
    uint32_t count = n;
    ASSERT_EQ(out.WriteRaw(bytes.data(), count), 0);
}

// One value of every transfer, and where each lies in the record.
struct Values {
    int16_t s = 0x55;
    int32_t i = 0x55;
    uint32_t u = 0x55;
    bool b = false;
    double d = 7.5;
    char text[3] = {'x', 'x', 'x'};
};
const std::pair<std::size_t, std::size_t> kParts[] = {
    {offsetof(Values, s), 2}, {offsetof(Values, i), 4}, {offsetof(Values, u), 4},
    {offsetof(Values, b), 1}, {offsetof(Values, d), 8}, {offsetof(Values, text), 3}};
const std::size_t kEnds[] = {2, 6, 10, 11, 19, 22}; // in the stream

std::array<int, 6> XferAll(UStream& s, Values& v, uint32_t& moved) {
    moved = 3;
    return {s.XferInt16(v.s), s.XferInt32(v.i),  s.XferUInt32(v.u),
            s.XferBool(v.b),  s.XferDouble(v.d), s.XferBytesReversed(v.text, moved)};
}

bool SamePart(const Values& a, const Values& b, std::size_t k) {
    const auto [at, n] = kParts[k];
    return std::memcmp(reinterpret_cast<const char*>(&a) + at,
                       reinterpret_cast<const char*>(&b) + at, n) == 0;
}

} // namespace

TEST(UBufferStreams, AnyValuesWrittenReadBackAndACutStreamStopsAtTheCut) {
    const double doubles[] = {-0.0, 1.0 / 3.0, std::numeric_limits<double>::denorm_min(),
                              std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 rng(0x5157EA11u);
    for (int round = 0; round < 200; ++round) {
        Values v;
        v.s = static_cast<int16_t>(rng());
        v.i = static_cast<int32_t>(rng());
        v.u = static_cast<uint32_t>(rng());
        v.b = (rng() & 1) != 0;
        v.d = round % 3 == 0 ? doubles[round % std::size(doubles)] : std::bit_cast<double>(rng());
        for (char& c : v.text) {
            c = static_cast<char>(rng());
        }
        UBufferStreamWrite out;
        out.swapBytes = static_cast<uint8_t>(round % 2);
        Values written = v;
        uint32_t moved = 0;
        ASSERT_EQ(XferAll(out, written, moved), (std::array<int, 6>{}));
        ASSERT_EQ(out.GetPosition(), 22);
        // Whole, and cut at every byte: the values before the cut come back
        // bit for bit, none takes half a value, bytes move up to the cut.
        for (std::size_t cut = 0; cut <= 22; ++cut) {
            SCOPED_TRACE(::testing::Message() << "round " << round << ", cut at " << cut);
            UBufferStreamRead in(out.GetBlock(), static_cast<uint32_t>(cut));
            in.swapBytes = out.swapBytes;
            const Values sentinel;
            Values got;
            const std::array<int, 6> status = XferAll(in, got, moved);
            std::size_t start = 0;
            for (std::size_t k = 0; k < 6; ++k) {
                const bool whole = kEnds[k] <= cut;
                EXPECT_EQ(status[k], whole ? 0 : 1) << k;
                if (k == 5) {
                    EXPECT_EQ(moved, cut > start ? cut - start : 0);
                    EXPECT_TRUE(!whole || SamePart(got, v, k));
                } else {
                    EXPECT_TRUE(SamePart(got, whole ? v : sentinel, k)) << k;
                }
                start = kEnds[k];
            }
        }
    }
}

TEST(UBufferStreams, StatusReportsEmptyFullAndOpen) {
    UBufferStreamWrite out;
    EXPECT_EQ(out.Status(), 3);
    WriteBytes(out, 10);
    EXPECT_EQ(out.Status(), 0);
    WriteBytes(out, 1014);
    EXPECT_EQ(out.Status(), 1); // the block is full

    UBufferStreamRead none(nullptr, 10);
    EXPECT_EQ(none.Status(), 3);
    uint8_t two[2] = {1, 2};
    UBufferStreamRead empty(two, 0);
    EXPECT_EQ(empty.Status(), 3);
    UBufferStreamRead in(two, 2);
    EXPECT_EQ(in.Status(), 0);
    int16_t v = 0;
    EXPECT_EQ(in.XferInt16Value(v), 0x0201);
    EXPECT_EQ(in.Status(), 1);
}

TEST(UBufferStreams, StoredLayoutIsLittleEndianOrSwapped) {
    for (uint8_t swap : {0, 1}) {
        UBufferStreamWrite out;
        out.swapBytes = swap;
        int32_t i = 0x01020304;
        int16_t s = 0x0506;
        bool b = true;
        double d = 1.5;
        uint8_t bytes[] = {1, 2, 3};
        uint32_t n = 3;
        out.XferInt32(i);
        out.XferInt16(s);
        out.XferBool(b);
        out.XferDouble(d);
        out.XferBytesReversed(bytes, n); // last byte first, either way
        const std::vector<uint8_t> little = {4, 3, 2, 1, 6,    5,    1, 0, 0,
                                             0, 0, 0, 0, 0xF8, 0x3F, 3, 2, 1};
        const std::vector<uint8_t> big = {1, 2, 3, 4, 5, 6, 1, 0x3F, 0xF8,
                                          0, 0, 0, 0, 0, 0, 3, 2,    1};
        ASSERT_EQ(out.GetPosition(), 18);
        EXPECT_EQ(std::vector<uint8_t>(out.GetBlock(), out.GetBlock() + 18), swap ? big : little);
    }
}

TEST(UBufferStreamRead, ShortReadsMoveWhatIsLeftAndSeeksOutsideTheBlockReadNothing) {
    const uint8_t block[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    UBufferStreamRead in(block, sizeof block);
    in.Seek(4, 0);
    uint8_t raw[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    uint32_t count = 4;
    EXPECT_EQ(in.ReadRaw(raw, count), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + 4), (std::vector<uint8_t>{0x55, 0x66, 0xEE, 0xEE}));
    count = 4;
    EXPECT_EQ(in.ReadRaw(raw, count), 1);
    EXPECT_EQ(count, 0u);
    for (auto [offset, origin] : {std::pair{10, 0}, std::pair{-3, 0}, std::pair{-1, 2},
                                  std::pair{7, 2}, std::pair{100, 1}}) {
        in.Seek(0, 0);
        in.Seek(offset, origin);
        count = 1;
        EXPECT_EQ(in.ReadRaw(raw, count), 1) << offset << "," << origin;
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(raw[0], 0x55);
    }
    in.Seek(1, 2); // one byte back from the end
    EXPECT_EQ(in.GetPosition(), 5);
    EXPECT_EQ(in.GetSize(), 6u);
}

TEST(UBufferStreams, TransferInTheWrongDirectionThrows) {
    const uint8_t block[] = {1, 2};
    UBufferStreamRead in(block, 2);
    uint32_t count = 1;
    try {
        in.WriteRaw(block, count);
        FAIL() << "no exception";
    } catch (const IMG_Exception& e) {
        EXPECT_EQ(e.Code(), -1);
        EXPECT_EQ(e.Flag(), 1);
    }
    UBufferStreamWrite out;
    uint8_t b = 0;
    EXPECT_THROW(out.ReadRaw(&b, count), IMG_Exception);
    EXPECT_THROW(out.Seek(-1, 0); out.WriteRaw(&b, count), IMG_Exception);
}

TEST(UBufferStreamWrite, TakesOverAGivenBlockAndGrowsIt) {
    auto* block = static_cast<uint8_t*>(std::malloc(16));
    UBufferStreamWrite out(block, 16);
    EXPECT_EQ(out.Status(), 0);
    WriteBytes(out, 16, 0x5A);
    EXPECT_EQ(out.Status(), 1);
    WriteBytes(out, 1, 0x5B);
    EXPECT_EQ(out.GetCapacity(), 1024u);
    EXPECT_EQ(out.GetBlock()[15], 0x5A);
    EXPECT_EQ(out.GetBlock()[16], 0x5B);
    // Seeking past the end and writing leaves zeros between.
    out.Seek(100, 0);
    WriteBytes(out, 1, 0x77);
    EXPECT_EQ(out.GetBlock()[50], 0);
    EXPECT_EQ(out.GetBlock()[100], 0x77);
}
