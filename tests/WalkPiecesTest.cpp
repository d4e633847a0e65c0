// The walk's pieces on their own: directory entries and the file name rule.
#include "DirectoryWalk.h"
#include "SafeName.h"

#include <gtest/gtest.h>
#include <string>

namespace {

DirEntry entryOf(const std::string& sixteen) {
    return parseDirEntry(reinterpret_cast<const uint8_t*>(sixteen.data()));
}

} // namespace

TEST(DirEntryParse, NameAndFields) {
    const DirEntry entry = entryOf(std::string("ABC.DAT     \x10\x02\x03\x01", 16));
    EXPECT_STREQ(entry.name, "ABC.DAT");
    EXPECT_EQ(entry.track, 16);
    EXPECT_EQ(entry.sector, 2);
    EXPECT_EQ(entry.size, 3 * 1024);
    EXPECT_EQ(entry.diskNumber, 1);

    const DirEntry high = entryOf(std::string("ABCDEFGHIJKL\xFF\xFE\xFD\xFC", 16));
    EXPECT_STREQ(high.name, "ABCDEFGHIJKL") << "twelve bytes, no space";
    EXPECT_EQ(high.track, 255);
    EXPECT_EQ(high.size, 253 * 1024);
    EXPECT_EQ(high.diskNumber, 252);

    EXPECT_STREQ(entryOf(std::string("A B C       \0\0\0\0", 16)).name, "A");
    EXPECT_STREQ(entryOf(std::string("\x83\x66\x81\x5B .DAT   \0\0\0\0", 16)).name,
                 "\x83\x66\x81\x5B");
    EXPECT_STREQ(entryOf(std::string(16, '\0')).name, "");
}

TEST(SafeNames, SlashIsRefusedEverywhere) {
    for (bool windows : {false, true}) {
        EXPECT_TRUE(isUnsafeName("/ETC", windows));
        EXPECT_TRUE(isUnsafeName("../UP", windows));
        EXPECT_TRUE(isUnsafeName("A/B", windows));
        EXPECT_TRUE(isUnsafeName("\x83/", windows)) << "never the second byte of a character";
        EXPECT_FALSE(isUnsafeName("ABC.DAT", windows));
        EXPECT_FALSE(isUnsafeName("..", windows)) << "opening it fails on its own";
        EXPECT_FALSE(isUnsafeName("", windows));
        EXPECT_FALSE(isUnsafeName("\x83\x66\x81\x5B\x83\x5E.DAT", windows));
    }
}

TEST(SafeNames, WindowsPathsAlsoRefuseBackslashAndDrives) {
    EXPECT_FALSE(isUnsafeName("A\\B", false));
    EXPECT_FALSE(isUnsafeName("C:FILE", false));
    EXPECT_TRUE(isUnsafeName("A\\B", true));
    EXPECT_TRUE(isUnsafeName("\\ROOT", true));
    EXPECT_TRUE(isUnsafeName("C:FILE", true));
    EXPECT_TRUE(isUnsafeName("z:", true));
    EXPECT_FALSE(isUnsafeName("1:FILE", true));
    EXPECT_FALSE(isUnsafeName("AB:C", true));
    // Shift_JIS characters whose second byte is 0x5C are not separators.
    EXPECT_FALSE(isUnsafeName("\x95\x5C\x8E\xA6.TXT", true));     // 表示
    EXPECT_FALSE(isUnsafeName("\x83\x5C\x83\x74\x83\x67", true)); // ソフト
    EXPECT_FALSE(isUnsafeName("\xE0\x5C", true));
    EXPECT_TRUE(isUnsafeName("\x95\x5C\\X", true)) << "a lone backslash after the character";
    EXPECT_TRUE(isUnsafeName("\xA0\\", true)) << "0xA0 is not a lead byte";
    EXPECT_TRUE(isUnsafeName("\xB1\\", true)) << "half-width katakana is one byte";
}

TEST(SafeNames, WindowsDeviceNamesAreRefusedThere) {
    for (const char* device :
         {"NUL", "con", "Prn", "AUX", "COM1", "lpt9", "NUL.TXT", "CON .X", "com3.bin.bak"}) {
        EXPECT_TRUE(isUnsafeName(device, true)) << device;
        EXPECT_FALSE(isUnsafeName(device, false)) << device;
    }
    for (const char* name :
         {"NULL", "CONFIG.SYS", "COM0", "COM10", "LPT", "AUXDATA.BIN", "XNUL", ".NUL"}) {
        EXPECT_FALSE(isUnsafeName(name, true)) << name;
    }
}
