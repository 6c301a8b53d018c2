#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "esl_registry.h"

namespace {

class RegistryKeyTest : public ::testing::Test {
protected:
    RegistryKeyTest() : subKey_("Software\\velk58_esl_test_" + std::to_string(::GetCurrentProcessId())) {}
    ~RegistryKeyTest() override {
        key_.Close();
        ERegistryKey::DeleteKey(HKEY_CURRENT_USER, subKey_.c_str());
    }
    void SetUp() override { ASSERT_EQ(0, key_.Create(HKEY_CURRENT_USER, subKey_.c_str())); }

    std::string subKey_;
    ERegistryKey key_;
};

TEST_F(RegistryKeyTest, ValuesRoundTripByType) {
    EXPECT_EQ(0, key_.SetString("text", "背景色"));
    EXPECT_EQ(0, key_.SetString("short", "s"));  // shorter than the key's longest value
    EXPECT_EQ(0, key_.SetString("empty", ""));
    EXPECT_EQ(0, key_.SetInteger("number", 0xFF808080u));
    EXPECT_EQ(0, key_.SetInteger64("wide", 0x123456789ABCDEF0ull));
    EXPECT_EQ(0, key_.SetBinary("zeros", "ab\0cd", 5));

    ERegistryKey reader;
    ASSERT_EQ(0, reader.Open(HKEY_CURRENT_USER, subKey_.c_str()));
    EXPECT_STREQ("背景色", reader.GetString("text", "default"));
    EXPECT_STREQ("s", reader.GetString("short", "x"));
    EXPECT_STREQ("", reader.GetString("empty", "x"));
    EXPECT_STREQ("ab", reader.GetString("zeros", "x")) << "a string is cut at its first zero";
    EXPECT_EQ(0xFF808080u, reader.GetInteger("number", 7));
    EXPECT_EQ(0x123456789ABCDEF0ull, reader.GetInteger64("wide", 7));
    char read[8] = {};
    EXPECT_EQ(5u, reader.GetBinary("zeros", read, sizeof(read)));
    EXPECT_EQ(0, std::memcmp("ab\0cd", read, 5));
}

TEST_F(RegistryKeyTest, MissingOrMismatchedValuesGiveTheDefault) {
    EXPECT_STREQ("fallback", key_.GetString("missing", "fallback"));
    EXPECT_EQ(42u, key_.GetInteger("missing", 42));
    key_.SetInteger64("wide", 1);
    EXPECT_EQ(42u, key_.GetInteger("wide", 42)) << "8 bytes are not a 32-bit value";
    key_.SetInteger("narrow", 1);
    EXPECT_EQ(9u, key_.GetInteger64("narrow", 9));
    char small[2];
    key_.SetBinary("long", "0123456789", 10);
    EXPECT_EQ(0u, key_.GetBinary("long", small, sizeof(small))) << "a value longer than the buffer";
    EXPECT_EQ(0u, key_.GetBinary("missing", small, sizeof(small)));
    ERegistryKey closed;
    EXPECT_STREQ("x", closed.GetString("text", "x"));
    EXPECT_NE(0, closed.SetInteger("n", 1));
}

TEST_F(RegistryKeyTest, DeletingValuesAndKeys) {
    key_.SetInteger("gone", 5);
    EXPECT_EQ(0, key_.DeleteValue("gone"));
    EXPECT_EQ(3u, key_.GetInteger("gone", 3));
    EXPECT_NE(0, key_.DeleteValue("gone"));
    ERegistryKey child;
    ASSERT_EQ(0, child.Create(key_.GetHandle(), "child"));
    child.Close();
    EXPECT_EQ(0, ERegistryKey::DeleteKey(key_.GetHandle(), "child"));
    EXPECT_NE(0, child.Open(key_.GetHandle(), "child"));
    EXPECT_NE(0, ERegistryKey::DeleteKey(key_.GetHandle(), ""));
}

}  // namespace
