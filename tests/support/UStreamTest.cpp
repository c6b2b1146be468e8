#include "UStream.h"
#include "IMG_Exception.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Writes n bytes of value b.
void WriteBytes(UBufferStreamWrite& out, uint32_t n, uint8_t b = 0xAB) {
    std::vector<uint8_t> bytes(n, b);
    uint32_t count = n;
    ASSERT_EQ(out.WriteRaw(bytes.data(), count), 0);
}

} // namespace

TEST(UBufferStreamWrite, GrowsInWholeKilobytes) {
    struct Case {
        std::vector<uint32_t> writes;
        uint32_t capacity;
    };
    const Case cases[] = {{{1}, 1024},       {{1024}, 1024},      {{1025}, 2048}, {{1, 1024}, 2048},
                          {{1023, 1}, 1024}, {{1024, 1}, 2048},   {{3000}, 3072}, {{0}, 0},
                          {{1, 1, 1}, 1024}, {{2048, 2049}, 5120}};
    for (const auto& c : cases) {
        UBufferStreamWrite out;
        uint32_t total = 0;
        for (uint32_t n : c.writes) {
            WriteBytes(out, n);
            total += n;
        }
        EXPECT_EQ(out.GetCapacity(), c.capacity) << "after " << total << " bytes";
        EXPECT_EQ(out.GetPosition(), static_cast<int32_t>(total));
    }
}

TEST(UBufferStreamWrite, KeepsEarlierBytesWhenGrowing) {
    UBufferStreamWrite out;
    WriteBytes(out, 1000, 0x11);
    WriteBytes(out, 1000, 0x22);
    const uint8_t* block = out.GetBlock();
    EXPECT_EQ(block[0], 0x11);
    EXPECT_EQ(block[999], 0x11);
    EXPECT_EQ(block[1000], 0x22);
    EXPECT_EQ(block[1999], 0x22);
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
    in.XferInt16(v);
    EXPECT_EQ(in.Status(), 1);
}

TEST(UBufferStreams, RoundTripOfEveryTransfer) {
    const double doubles[] = {0.0,
                              -0.0,
                              1.0 / 3.0,
                              -123456.789e100,
                              std::numeric_limits<double>::denorm_min(),
                              std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    UBufferStreamWrite out;
    int16_t s = -12345;
    int32_t i = -2000000000;
    uint32_t u = 0xDEADBEEF;
    bool t = true;
    bool f = false;
    EXPECT_EQ(out.XferInt16(s), 0);
    EXPECT_EQ(out.XferInt32(i), 0);
    EXPECT_EQ(out.XferUInt32(u), 0);
    EXPECT_EQ(out.XferBool(t), 0);
    EXPECT_EQ(out.XferBool(f), 0);
    for (double d : doubles) {
        EXPECT_EQ(out.XferDouble(d), 0);
    }
    char text[] = "abcdef";
    uint32_t n = 6;
    EXPECT_EQ(out.XferBytesReversed(text, n), 0);
    EXPECT_EQ(n, 6u);

    UBufferStreamRead in(out.GetBlock(), static_cast<uint32_t>(out.GetPosition()));
    int16_t s2 = 0;
    int32_t i2 = 0;
    uint32_t u2 = 0;
    bool t2 = false;
    bool f2 = true;
    EXPECT_EQ(in.XferInt16Value(s2), s);
    EXPECT_EQ(in.XferInt32(i2), 0);
    EXPECT_EQ(in.XferUInt32(u2), 0);
    EXPECT_EQ(in.XferBool(t2), 0);
    EXPECT_EQ(in.XferBool(f2), 0);
    EXPECT_EQ(s2, s);
    EXPECT_EQ(i2, i);
    EXPECT_EQ(u2, u);
    EXPECT_TRUE(t2);
    EXPECT_FALSE(f2);
    for (double d : doubles) {
        double back = 0;
        EXPECT_EQ(in.XferDouble(back), 0);
        EXPECT_EQ(std::memcmp(&back, &d, sizeof d), 0) << "double " << d << " not bit-identical";
    }
    char back[7] = {};
    n = 6;
    EXPECT_EQ(in.XferBytesReversed(back, n), 0);
    EXPECT_STREQ(back, "abcdef");
    EXPECT_EQ(in.Status(), 1);
}

TEST(UBufferStreams, StoredLayoutIsLittleEndian) {
    UBufferStreamWrite out;
    int32_t i = 0x01020304;
    int16_t s = 0x0506;
    bool b = true;
    out.XferInt32(i);
    out.XferInt16(s);
    out.XferBool(b);
    const uint8_t expected[] = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x01};
    ASSERT_EQ(out.GetPosition(), 7);
    EXPECT_EQ(std::memcmp(out.GetBlock(), expected, sizeof expected), 0);

    // Reversed bytes are stored last byte first.
    UBufferStreamWrite rev;
    uint8_t bytes[] = {1, 2, 3};
    uint32_t n = 3;
    rev.XferBytesReversed(bytes, n);
    EXPECT_EQ(rev.GetBlock()[0], 3);
    EXPECT_EQ(rev.GetBlock()[2], 1);
}

TEST(UBufferStreams, SwappedStreamsStoreBigEndian) {
    UBufferStreamWrite out;
    out.swapBytes = 1;
    int32_t i = 0x01020304;
    double d = 1.5;
    out.XferInt32(i);
    out.XferDouble(d);
    EXPECT_EQ(out.GetBlock()[0], 0x01);
    EXPECT_EQ(out.GetBlock()[3], 0x04);
    EXPECT_EQ(out.GetBlock()[4], 0x3F); // sign and exponent of 1.5 first

    UBufferStreamRead in(out.GetBlock(), 12);
    in.swapBytes = 1;
    int32_t i2 = 0;
    double d2 = 0;
    in.XferInt32(i2);
    in.XferDouble(d2);
    EXPECT_EQ(i2, i);
    EXPECT_EQ(d2, d);
}

TEST(UBufferStreamRead, ShortReadsMoveWhatIsLeftAndKeepTheRest) {
    const uint8_t block[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    UBufferStreamRead in(block, sizeof block);
    int32_t first = 0;
    EXPECT_EQ(in.XferInt32(first), 0);
    EXPECT_EQ(first, 0x44332211);

    // Two bytes left for a four-byte integer: they move, the status says 1, and
    // the integer does not take half a value.
    uint8_t raw[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    uint32_t count = 4;
    EXPECT_EQ(in.ReadRaw(raw, count), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(raw[0], 0x55);
    EXPECT_EQ(raw[1], 0x66);
    EXPECT_EQ(raw[2], 0xEE);

    count = 4;
    EXPECT_EQ(in.ReadRaw(raw, count), 1);
    EXPECT_EQ(count, 0u);

    in.Seek(4, 0);
    int32_t second = 7;
    EXPECT_EQ(in.XferInt32(second), 1);
    EXPECT_EQ(second, 7);

    in.Seek(0, 0);
    uint8_t reversed[8] = {};
    count = 8;
    EXPECT_EQ(in.XferBytesReversed(reversed, count), 1);
    EXPECT_EQ(count, 6u);
    EXPECT_EQ(reversed[7], 0x11);
}

TEST(UBufferStreamRead, BoolIsTrueForAnyNonZeroByte) {
    const uint8_t block[] = {0, 1, 2, 0x80, 0xFF};
    UBufferStreamRead in(block, sizeof block);
    bool expected[] = {false, true, true, true, true};
    for (bool e : expected) {
        bool v = !e;
        EXPECT_EQ(in.XferBool(v), 0);
        EXPECT_EQ(v, e);
    }
}

TEST(UBufferStreamRead, SeekOutsideTheBlockReadsNothing) {
    const uint8_t block[] = {1, 2, 3, 4};
    UBufferStreamRead in(block, sizeof block);
    for (auto [offset, origin] : {std::pair{10, 0}, std::pair{-3, 0}, std::pair{-1, 2},
                                  std::pair{5, 2}, std::pair{100, 1}}) {
        in.Seek(0, 0);
        in.Seek(offset, origin);
        uint8_t b = 9;
        uint32_t count = 1;
        EXPECT_EQ(in.ReadRaw(&b, count), 1) << offset << "," << origin;
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(b, 9);
    }
    in.Seek(1, 2); // one byte back from the end
    EXPECT_EQ(in.GetPosition(), 3);
    EXPECT_EQ(in.GetSize(), 4u);
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
