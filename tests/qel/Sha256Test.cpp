#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
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

// The first 16 hexadecimal digits of sha256sum of LengthPattern(n), n = 0 .. 130:
// every padding boundary (55, 56, 63, 64, 119, 120, 127, 128) and around them.
const char* const kLengthDigests[] = {
    "E3B0C44298FC1C14", "F299791CDDD3D666", "63F5A630E046BC49", "C0CD6787A169B311", "BF50210A9BAB4385",  // 0
    "2408B68AEF608406", "96204D262C2F3465", "97424301298A9527", "33693F1F287FE0D2", "BB8334CD0ACD2F7E",  // 5
    "9B4F3421577ABBBC", "00724B5CDD1534ED", "A22D273F546F2F8E", "1EA1C5FC04202241", "B54D589C2542BF20",  // 10
    "BBE9E3A81136796B", "2C8DC48E22A0B015", "F960AA1B988DE84D", "2D6C96693DFE2441", "61E3C2B87DBAB8EC",  // 15
    "63F274E8BD696BED", "8895958C1A6F2D31", "CE42F9A28096BFA2", "DC77561B09C65413", "804856EDF4344AC9",  // 20
    "DC64B38260C35072", "BB74597B11C890FB", "FFD9533D91B02CCF", "9D9A955A2A36A4E0", "E91B706EE581DBD0",  // 25
    "F7A7EFC4F665669A", "327B3C56536F1F84", "8DF32D1353821376", "ECA1547CFF38FCD4", "8DC5A66F079C69FE",  // 30
    "02711115E76819C7", "DACEEDC8A5BA33F3", "0E544D32B4FA09E3", "BB31D26B03C6A11C", "2CC4D1168787F078",  // 35
    "0C8CD99317C4D88F", "A39D999ACC005F24", "3FD33ACE60F4C860", "67B63035E187AC33", "C57840D7E456FB21",  // 40
    "1EB0CA3BBB639D05", "D80F1470E2D8ABFE", "62C884EF1D311D38", "DBC6209B63996299", "D618C881A1BAC05B",  // 45
    "8933A6FB2FFB6E10", "6EEFE3009212FC6F", "999BEC7B35473F5F", "84338E88266B92B6", "1FE36FFC146B6124",  // 50
    "47F22FC49D52D381", "733654909A4426DB", "AEAC2D9B1DE6E9EC", "EDDC76F692534A0A", "F3F81CF7C2872A21",  // 55
    "712F658643B747F6", "55F5988035BD35D8", "8C8BFF536D5737F4", "706357E40F3537DB", "32DA7D6A08FD7854",  // 60
    "9D9501F74B6896EA", "0D7A43B103868153", "CB5F253CD8C650FC", "47C6667D14CCEDED", "2A7B35EC596EAF69",  // 65
    "14EA707F8B9803EC", "2002C085A0A11E65", "9F1093B33BA9AB40", "AB1DF49CBF8891DC", "257CB72FAC4821DD",  // 70
    "BBA005F302F13C21", "694930D6914DAD05", "1F799E5EC10828A6", "9ABCC599522F5C95", "6F0D02A69A3F2D0D",  // 75
    "7CE22C56F34E1884", "95E3BF616FB44F68", "B320BB33E7995032", "580E35F3EFA459E6", "321490628098C2B1",  // 80
    "66EFEF3C381F0AC0", "7487EBE1258AF532", "48903FD9541F7BA9", "7674C334FC0BE43C", "1F4D88EC676E6F86",  // 85
    "D7E8FA6A33676311", "F759E6C69E533F9D", "7A805AAA7788B534", "63F73F5A8F8416B3", "35157ECCE330FC46",  // 90
    "088A22C721F83C04", "2FE3BFADB1A03D91", "CA48000812E3C89F", "F6D8E88435C01BE1", "FC06643DE41D84E2",  // 95
    "75EBB744DCAB4CAE", "FBBE4340BCEAC6C4", "0253EE4F22E3320F", "820BE53ED13DDDD1", "6CEA3ED4E7ED2770",  // 100
    "AB4915E4FF96350A", "A9E697E41B4B882E", "B508A361579F52B4", "A07B41C13A3DC99F", "54E69D7C6FD031EF",  // 105
    "CADC4CA3CCF6C0A6", "72956AEE748B2962", "78DECE0D52E5C846", "E294111B0EF22DF9", "66534BE3E341713F",  // 110
    "35A9DC591A92FB54", "CB69F108619FE384", "FAA74485E4ADBA41", "88C0AF87BD8165A6", "44940A5EA5DC6A4B",  // 115
    "B3EC68BEAED9A788", "AD6D7D35E57188E9", "98615BB2A7969983", "9321578FCB797CB1", "A148D67D3D0E6900",  // 120
    "6186951E4AC2BAFC", "86DF5032FE4849C2", "015A1F3F048B9B73", "F2DD56E000EB7546", "0C13A535EAA32BC2",  // 125
    "3BC8B3406E737BA3",                                                                                  // 130
};

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

TEST(Sha256, EveryLengthUpTo130Bytes) {
    ASSERT_EQ(131u, sizeof(kLengthDigests) / sizeof(kLengthDigests[0]));
    for (size_t n = 0; n <= 130; ++n) {
        SCOPED_TRACE("length " + std::to_string(n));
        const std::string digest = Digest(LengthPattern(n));
        EXPECT_EQ(64u, digest.size());
        EXPECT_EQ(kLengthDigests[n], digest.substr(0, 16));
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
