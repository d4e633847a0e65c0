// The walk's pieces on their own: directory entries and the file name rule.
#include "DirEntry.h"
#include "Host.h"
#include "SafeName.h"
#include "SavedName.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_TRUE(isUnsafeName("/ETC"));
    EXPECT_TRUE(isUnsafeName("../UP"));
    EXPECT_TRUE(isUnsafeName("A/B"));
    EXPECT_TRUE(isUnsafeName("\x83/")) << "never the second byte of a character";
    EXPECT_FALSE(isUnsafeName("ABC.DAT"));
    EXPECT_FALSE(isUnsafeName("..")) << "opening it fails on its own";
    EXPECT_FALSE(isUnsafeName(""));
    EXPECT_FALSE(isUnsafeName("A\\B")) << "a plain byte outside Windows";
    EXPECT_FALSE(isUnsafeName("\x83\x66\x81\x5B\x83\x5E.DAT"));
}

// The Windows rule runs on the name converted from Shift_JIS, so a character whose second byte
// is 0x5C (as in 表示) is no separator there, on any code page.
TEST(SafeNames, WindowsNamesAfterConversion) {
    for (const char16_t* name :
         {u"A\\B", u"\\ROOT", u"/ETC", u"C:FILE", u"z:", u"AB:C", u"A<B", u"A>B", u"A\"B", u"A|B",
          u"A?", u"*.BIN", u"TAB\tX", u"\x1b[7m", u"\u8868\\X", u"DOT.", u"A. "}) {
        EXPECT_TRUE(isUnsafeWindowsName(name));
    }
    for (const char16_t* name :
         {u"ABC.DAT", u"\u8868\u793a.TXT", u"\u30c7\u30fc\u30bf.DAT", u"\uff71", u"1.2.3", u"",
          u".", u"..", u".HIDDEN", u"A~B!#$%&'()+,;=@[]^_`{}"}) {
        EXPECT_FALSE(isUnsafeWindowsName(name));
    }
}

TEST(SafeNames, WindowsDeviceNamesAreRefusedThere) {
    for (const char16_t* device : {u"NUL", u"con", u"Prn", u"AUX", u"COM1", u"lpt9", u"NUL.TXT",
                                   u"CON .X", u"com3.bin.bak", u"CONIN$", u"conout$.x"}) {
        EXPECT_TRUE(isUnsafeWindowsName(device));
    }
    for (const char16_t* name :
         {u"NULL", u"CONFIG.SYS", u"COM0", u"COM10", u"LPT", u"AUXDATA.BIN", u"XNUL", u".NUL"}) {
        EXPECT_FALSE(isUnsafeWindowsName(name));
    }
}

// Names decided for each place a file can land. A zip name is never a path anywhere, and two
// entries whose saved names are one file share a key, however their bytes differ.
TEST(SavedNames, EachTargetNamesFilesItsWay) {
    const struct {
        const char* bytes;
        NameTarget target;
        const char* name;
    } rows[] = {
        {"\x95\x5C\x8E\xA6.TXT", NameTarget::Utf8, "\xE8\xA1\xA8\xE7\xA4\xBA.TXT"}, // 表示
        {"\x83\x66\x81\x5B\x83\x5E.DAT", NameTarget::Zip,
         "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.DAT"},
        {"\xB1\xB2", NameTarget::Utf8, "\xEF\xBD\xB1\xEF\xBD\xB2"}, // half-width ｱｲ
        {"A\x80.TXT", NameTarget::Zip, "A%80.TXT"},
        {"BAD\x83", NameTarget::Utf8, "BAD%83"},           // a lead byte at the end
        {"\x81\x7F.BIN", NameTarget::Utf8, "%81\x7F.BIN"}, // a trail byte that cannot follow
        {"\xA0\xFD", NameTarget::Utf8, "%a0%fd"},
        {"..\\..\\X.BAT", NameTarget::Zip, "..%5c..%5cX.BAT"},
        {"C:\\X.TXT", NameTarget::Zip, "C%3a%5cX.TXT"},
        {"\\ROOT.TXT", NameTarget::Zip, "%5cROOT.TXT"},
        {"TAB\tX", NameTarget::Zip, "TAB%09X"},
        {"TAB\tX", NameTarget::Utf8, "TAB\tX"},
        {"A\\B", NameTarget::Utf8, "A\\B"},
        {"A\x80.TXT", NameTarget::Host, "A\x80.TXT"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(savedName(row.bytes, row.target, BYTE_NAME_RULES).name, row.name) << row.bytes;
    }
    // The Shift_JIS twins ED 40 and FA 5C are both 纊; a zip cannot hold both.
    EXPECT_EQ(savedName("\xED\x40", NameTarget::Zip, BYTE_NAME_RULES).key,
              savedName("\xFA\x5C", NameTarget::Zip, BYTE_NAME_RULES).key);
    EXPECT_EQ(savedName("A%80.TXT", NameTarget::Zip, BYTE_NAME_RULES).key,
              savedName("A\x80.TXT", NameTarget::Zip, BYTE_NAME_RULES).key);
    EXPECT_NE(savedName("\xED\x40", NameTarget::Host, BYTE_NAME_RULES).name,
              savedName("\xFA\x5C", NameTarget::Host, BYTE_NAME_RULES).name);
    // A '/' is refused whatever the target, so that every target writes the same files.
    for (NameTarget target : {NameTarget::Host, NameTarget::Utf8, NameTarget::Zip}) {
        EXPECT_TRUE(refusesSavedName("../UP", savedName("../UP", target, BYTE_NAME_RULES), target,
                                     BYTE_NAME_RULES));
        EXPECT_FALSE(refusesSavedName("OK.BIN", savedName("OK.BIN", target, BYTE_NAME_RULES),
                                      target, BYTE_NAME_RULES));
    }
}

// A folder opened as `unzip -d` would (its missing parents made) takes files by relative names;
// one that is missing, or a file, is not opened without them.
TEST(HostFolder, FilesAreWrittenThroughAnOpenedFolder) {
    TempDir dir;
    const std::string nested = dir.file("out/a/b");
    HostFolder folder = hostCurrentFolder();
    int error = 0;
    EXPECT_FALSE(hostOpenFolder(nested.c_str(), false, folder, error));
    EXPECT_EQ(error, ENOENT);
    ASSERT_TRUE(hostOpenFolder(nested.c_str(), true, folder, error)) << error;
    const uint8_t bytes[] = {1, 2, 3};
    for (int round = 0; round < 2; ++round) { // made, then replaced
        const ReplaceResult result =
            hostReplaceFile(folder, "X.BIN", NameSource::DiskSet, bytes, sizeof bytes);
        EXPECT_EQ(result.outcome, ReplaceOutcome::Replaced);
        EXPECT_EQ(result.existed, round == 1);
    }
    hostCloseFolder(folder);
    EXPECT_EQ(readFileBytes(nested + "/X.BIN"), std::vector<uint8_t>(bytes, bytes + 3));
    EXPECT_EQ(listDirectory(nested), std::vector<std::string>{"X.BIN"});
    EXPECT_FALSE(hostOpenFolder((nested + "/X.BIN").c_str(), true, folder, error));
    EXPECT_EQ(error, ENOTDIR);
}

// The names under which the files given stand in a folder, through a hard or a symbolic link,
// are the image itself there; other files, folders and dangling links are not, and a folder
// still to be made holds none.
TEST(HostFolder, NamesOfTheGivenFilesThroughAnyLink) {
    TempDir dir;
    const std::string a = dir.write("a.d88", {1});
    const std::string b = dir.write("b.d88", {2});
    dir.write("other.d88", {3});
    ASSERT_EQ(link(a.c_str(), dir.file("HARD.D88").c_str()), 0);
    ASSERT_EQ(symlink(b.c_str(), dir.file("SOFT.D88").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("gone").c_str(), dir.file("DANGLING").c_str()), 0);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
    ASSERT_EQ(link(a.c_str(), dir.file("sub/INSIDE.D88").c_str()), 0);
    std::vector<FileIdentity> given;
    for (const std::string& path : {a, b}) {
        FILE* file = fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        FileIdentity identity{};
        EXPECT_TRUE(hostFileIdentity(file, identity));
        given.push_back(identity);
        fclose(file);
    }
    HostFolder folder = hostCurrentFolder();
    int error = 0;
    ASSERT_TRUE(hostOpenFolder(dir.path().c_str(), false, folder, error)) << error;
    std::vector<std::string> names = hostNamesOfFiles(folder, given);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"HARD.D88", "SOFT.D88", "a.d88", "b.d88"}));
    std::vector<std::string> keys = hostSaveTarget(NameTarget::Host, folder, given).imageNameKeys;
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, names);
    std::vector<std::string> ofB = hostNamesOfFiles(folder, {given[1]});
    std::sort(ofB.begin(), ofB.end());
    EXPECT_EQ(ofB, (std::vector<std::string>{"SOFT.D88", "b.d88"}));
    folder.notMadeYet = true;
    EXPECT_TRUE(hostNamesOfFiles(folder, given).empty());
    folder.notMadeYet = false;
    EXPECT_TRUE(hostNamesOfFiles(folder, {}).empty());
    hostCloseFolder(folder);
}
