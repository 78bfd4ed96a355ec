#include <windows.h>

#include "framework/registry.h"
#include "gtest/gtest.h"

using namespace fw;

namespace {
const char* const kKey = "Software\\Brindlewick Software\\RegistryAccessorTest";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
    void setRaw(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
        RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(k);
    }
};

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ERegistryException& e) {
        return e.Message;
    }
    return "(no exception)";
}
}  // namespace

TEST_F(Registry, OpenWithoutCreateFailsOnAMissingKeyAndCreateMakesIt) {
    TRegistry r;
    EXPECT_FALSE(r.KeyExists(kKey));
    EXPECT_FALSE(r.OpenKey(kKey, false));
    EXPECT_TRUE(r.OpenKey(kKey, true));
    EXPECT_TRUE(r.KeyExists(kKey));
}

TEST_F(Registry, TextIsStoredWithoutATerminatingZeroAndReadBack) {
    TRegistry r;
    ASSERT_TRUE(r.OpenKey(kKey, true));
    r.WriteString("server", "pop.example.org:110");
    r.WriteString("empty", "");
    r.WriteInteger("hideonstart", 1);
    DWORD type = 0, size = 0;
    HKEY k;
    RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k);
    RegQueryValueExA(k, "server", nullptr, &type, nullptr, &size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    // The ANSI layer may add its own terminator on the way to the stored
    // wide text; what matters is that no byte of ours follows the text.
    EXPECT_LE(size, 20u);
    RegQueryValueExA(k, "empty", nullptr, &type, nullptr, &size);
    EXPECT_EQ(size, 0u);
    RegQueryValueExA(k, "hideonstart", nullptr, &type, nullptr, &size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegCloseKey(k);
    EXPECT_EQ(r.ReadString("server"), "pop.example.org:110");
    EXPECT_EQ(r.ReadString("empty"), "");
    EXPECT_EQ(r.ReadString("missing"), "");
    EXPECT_EQ(r.ReadInteger("hideonstart"), 1);
    EXPECT_TRUE(r.ValueExists("empty"));
    EXPECT_FALSE(r.ValueExists("missing"));
}

TEST_F(Registry, TextIsCutAtItsFirstZeroAndExpandableTextIsNotExpanded) {
    setRaw("a", REG_SZ, "ab\0cd", 5);
    setRaw("b", REG_EXPAND_SZ, "%TEMP%\\x", 9);
    TRegistry r;
    ASSERT_TRUE(r.OpenKey(kKey, false));
    EXPECT_EQ(r.ReadString("a"), "ab");
    EXPECT_EQ(r.ReadString("b"), "%TEMP%\\x");
}

TEST_F(Registry, WrongTypesAndSizesRaiseTheExactMessages) {
    DWORD one = 1;
    unsigned char eight[8] = {1};
    setRaw("server", REG_DWORD, &one, 4);
    setRaw("hideonstart", REG_SZ, "1", 1);
    setRaw("big", REG_BINARY, eight, 8);
    setRaw("qword", REG_DWORD, eight, 8);
    TRegistry r;
    ASSERT_TRUE(r.OpenKey(kKey, false));
    EXPECT_EQ(messageOf([&] { r.ReadString("server"); }), "Invalid data type for 'server'");
    EXPECT_EQ(messageOf([&] { r.ReadInteger("hideonstart"); }), "Invalid data type for 'hideonstart'");
    EXPECT_EQ(messageOf([&] { r.ReadInteger("big"); }), "Invalid data type for 'big'");
    EXPECT_EQ(messageOf([&] { r.ReadInteger("qword"); }), "Failed to get data for 'qword'");
    EXPECT_EQ(messageOf([&] { r.ReadInteger("missing"); }), "Failed to get data for 'missing'");
}

TEST_F(Registry, WritingWithoutAnOpenKeyFailsNamingTheValue) {
    TRegistry r;
    EXPECT_EQ(messageOf([&] { r.WriteString("server", "x"); }), "Failed to set data for 'server'");
    EXPECT_EQ(messageOf([&] { r.WriteInteger("hideonstart", 0); }), "Failed to set data for 'hideonstart'");
}
