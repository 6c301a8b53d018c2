#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>

#include "qel_hash.h"

namespace {

std::string Text(qel::CSHA256& sha) {
    qel::CHashValue value;
    sha.GetHash(value);
    return value.Text();
}

std::string Digest(const std::string& bytes, size_t n = std::string::npos) {
    qel::CSHA256 sha;
    sha.Update(bytes.data(), std::min(n, bytes.size()));
    return Text(sha);
}

// Byte i of message n is (167 i + 13 n + 5) mod 256.
std::string LengthPattern(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = char(i * 167 + n * 13 + 5);
    return bytes;
}

}  // namespace

TEST(Sha256, KnownDigestsAtEveryPaddingBoundary) {
    EXPECT_EQ("CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0", Digest(std::string(1000000, 'a')));
    // The first 16 digits of sha256sum of LengthPattern(n).
    const std::pair<size_t, const char*> kDigests[] = {
        {0, "E3B0C44298FC1C14"},   {54, "1FE36FFC146B6124"},  {55, "47F22FC49D52D381"},  {56, "733654909A4426DB"},
        {63, "706357E40F3537DB"},  {64, "32DA7D6A08FD7854"},  {65, "9D9501F74B6896EA"},  {119, "44940A5EA5DC6A4B"},
        {120, "B3EC68BEAED9A788"}, {127, "015A1F3F048B9B73"}, {128, "F2DD56E000EB7546"}, {129, "0C13A535EAA32BC2"}};
    for (const auto& [n, digest] : kDigests)
        EXPECT_EQ(digest, Digest(LengthPattern(n)).substr(0, 16)) << n;
}

// Byte by byte, and in random cuts so that whole blocks arrive both through
// the block buffer and straight from the caller's bytes; a digest on the way
// leaves the message going on.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
    const std::string bytes = LengthPattern(100000);
    std::mt19937 random(58);
    for (size_t most : {1, 300}) {
        qel::CSHA256 sha;
        for (size_t pos = 0, take; pos < bytes.size(); pos += take) {
            take = std::min<size_t>(bytes.size() - pos, most == 1 ? 1 : random() % most);
            sha.Update(bytes.data() + pos, take);
            if (pos < 130 && pos + take >= 56) {
                EXPECT_EQ(Digest(bytes, pos + take), Text(sha)) << pos + take;
            }
        }
        EXPECT_EQ(Digest(bytes), Text(sha)) << most;
    }
    qel::CSHA256 sha;
    sha.Update("abc", 3);
    sha.Initialize();
    EXPECT_EQ(Digest(""), Text(sha)) << "Initialize starts an empty message";
}
