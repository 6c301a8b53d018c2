#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "qel_hash.h"

namespace {

// Message n of the length table: byte i is (167 i + 13 n + 5) mod 256.
std::vector<uint8_t> LengthPattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 167 + n * 13 + 5);
    return bytes;
}

// A few MB from a fixed linear congruential generator.
std::vector<uint8_t> LcgPattern() {
    std::vector<uint8_t> bytes(3 * 1024 * 1024 + 17);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return bytes;
}
const char kLcgDigest[] = "4575B7D81E23B89CA60FC946FF5978B523365117EF534F819FA8AD8D2BFC9C77";

std::string Text(qel::CSHA256& sha) {
    qel::CHashValue value;
    sha.GetHash(value);
    return value.Text();
}

std::string Digest(const void* data, size_t size) {
    qel::CSHA256 sha;
    sha.Update(data, size);
    return Text(sha);
}
std::string Digest(const std::string& text) {
    return Digest(text.data(), text.size());
}
std::string Digest(const std::vector<uint8_t>& bytes) {
    return Digest(bytes.data(), bytes.size());
}

// The first 16 hexadecimal digits of sha256sum of LengthPattern(n) at every
// padding boundary (55, 56, 63, 64, 119, 120, 127, 128) and around them.
const std::pair<size_t, const char*> kLengthDigests[] = {
    {0, "E3B0C44298FC1C14"},   {1, "F299791CDDD3D666"},   {54, "1FE36FFC146B6124"},  {55, "47F22FC49D52D381"},
    {56, "733654909A4426DB"},  {57, "AEAC2D9B1DE6E9EC"},  {63, "706357E40F3537DB"},  {64, "32DA7D6A08FD7854"},
    {65, "9D9501F74B6896EA"},  {118, "88C0AF87BD8165A6"}, {119, "44940A5EA5DC6A4B"}, {120, "B3EC68BEAED9A788"},
    {127, "015A1F3F048B9B73"}, {128, "F2DD56E000EB7546"}, {129, "0C13A535EAA32BC2"}};

}  // namespace

TEST(Sha256, FipsExamples) {
    EXPECT_EQ("E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855", Digest(""));
    EXPECT_EQ("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", Digest("abc"));
    EXPECT_EQ("248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1",
              Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
    EXPECT_EQ(
        "CF5B16A778AF8380036CE59E7B0492370B249B11E8F07A51AFAC45037AFEE9D1",
        Digest("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmn"
               "opqrstnopqrstu"));
    EXPECT_EQ("CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0", Digest(std::string(1000000, 'a')));
}

TEST(Sha256, LengthsAroundEveryPaddingBoundary) {
    for (const auto& [n, digest] : kLengthDigests) {
        SCOPED_TRACE("length " + std::to_string(n));
        EXPECT_EQ(digest, Digest(LengthPattern(n)).substr(0, 16));
    }
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    for (size_t n : {0, 1, 63, 64, 65, 130}) {
        SCOPED_TRACE("byte by byte, length " + std::to_string(n));
        const std::vector<uint8_t> bytes = LengthPattern(n);
        qel::CSHA256 sha;
        for (uint8_t b : bytes)
            sha.Update(&b, 1);
        EXPECT_EQ(Digest(bytes), Text(sha));
    }
    // Random cuts, so that whole blocks arrive both through the block buffer
    // and straight from the caller's bytes.
    const std::vector<uint8_t> big = LcgPattern();
    EXPECT_EQ(kLcgDigest, Digest(big));
    std::mt19937 rng(58);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        qel::CSHA256 sha;
        for (size_t pos = 0, take; pos < big.size(); pos += take) {
            take = std::min<size_t>(big.size() - pos, rng() % 300);
            sha.Update(big.data() + pos, take);
        }
        EXPECT_EQ(kLcgDigest, Text(sha));
    }
}

TEST(Sha256, GetHashInTheMiddleLeavesTheMessageGoingOn) {
    const std::vector<uint8_t> bytes = LengthPattern(130);
    for (size_t cut : {0, 3, 55, 56, 63, 64, 100}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        qel::CSHA256 sha;
        sha.Update(bytes.data(), cut);
        const std::string first = Text(sha);
        EXPECT_EQ(Digest(bytes.data(), cut), first);
        EXPECT_EQ(first, Text(sha)) << "a second GetHash gives the same digest";
        sha.Update(bytes.data() + cut, bytes.size() - cut);
        EXPECT_EQ(Digest(bytes), Text(sha));
    }
    qel::CSHA256 sha;
    sha.Update("abc", 3);
    sha.Initialize();
    EXPECT_EQ(Digest(""), Text(sha)) << "Initialize starts an empty message";
}

TEST(CHashValue, HoldsBytesAndUpperCaseText) {
    qel::CHashValue value;
    EXPECT_STREQ("", value.Text());
    const uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    value.Set(bytes, sizeof(bytes));
    EXPECT_STREQ("000FA5FF", value.Text());
    ASSERT_EQ(4u, value.Count());
    EXPECT_EQ(0xA5, value.Bytes()[2]);
    EXPECT_NE(bytes, value.Bytes()) << "the value keeps its own copy";
    value.Set(nullptr, 5);
    EXPECT_STREQ("", value.Text()) << "null bytes empty the value";
    value.Set(bytes, sizeof(bytes));
    value.Set(bytes, 0);
    EXPECT_STREQ("", value.Text()) << "no bytes empty the value";
    EXPECT_EQ(0u, value.Count());
}
