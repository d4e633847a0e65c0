// Files that cannot be read whole, names that must not be opened, and host files that cannot
// be created or written: each gets its message, the walk goes on, and the status is 1.
#include "support/DiskSetImage.h"
#include "support/ExtractFixture.h"
#include "support/PausedRun.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Failure = LayoutTest;

} // namespace

TEST_P(Failure, ShortFileIsWrittenWholeWithZerosAndReported) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "FULL.BIN", 30, 1, 3, 0);
    set.setEntry(entryOffset(1), "SHORT.BIN", 40, 1, 3, 0);
    set.setEntry(entryOffset(2), "AFTER.BIN", 50, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(3, 1));
    set.putFile(0, 40, 1, patternBytes(3, 2));
    set.putFile(0, 50, 1, patternBytes(1, 3));
    set.disks[0].tracks[40].sectors[2].data.resize(1000); // R = 3 is 24 bytes short
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("FULL.BIN      DISK:01 TRK:1e SEC:01 SIZE:c00\n"
                                      "SHORT.BIN     DISK:01 TRK:28 SEC:01 SIZE:c00\n"
                                      "AFTER.BIN     DISK:01 TRK:32 SEC:01 SIZE:400\n"));
    EXPECT_EQ(result.err, consoleText("incomplete file 'SHORT.BIN': 2048 of 3072 bytes read\n"));
    // Nothing of FULL.BIN's third sector, still in the work buffer, may leak into SHORT.BIN.
    expectFiles({{"FULL.BIN", patternBytes(3, 1)},
                 {"SHORT.BIN", zeroTail(patternBytes(3, 2), 2048)},
                 {"AFTER.BIN", patternBytes(1, 3)}});
    // Both streams into one file, as `> log 2>&1`: the message follows its report line.
    RunOptions merged;
    merged.mergeOutput = true;
    EXPECT_EQ(extract(layout(), set.build(), merged).out,
              consoleText("FULL.BIN      DISK:01 TRK:1e SEC:01 SIZE:c00\n"
                          "SHORT.BIN     DISK:01 TRK:28 SEC:01 SIZE:c00\n"
                          "incomplete file 'SHORT.BIN': 2048 of 3072 bytes read\n"
                          "AFTER.BIN     DISK:01 TRK:32 SEC:01 SIZE:400\n"));
}

TEST_P(Failure, UnsafeNamesAreNeverOpened) {
    const std::string absolute = "/tmp/D88.X";
    unlink(absolute.c_str());
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "../EVIL.BIN", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), absolute, 30, 1, 1, 0);
    set.setEntry(entryOffset(2), "SUB/X", 30, 1, 1, 0);
    set.setEntry(entryOffset(3), "../SILENT", 31, 1, 1, 0); // reads nothing: no message
    set.setEntry(entryOffset(4), "OK.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    mkdir((work + "/SUB").c_str(), 0700);
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("OK.BIN        DISK:01 TRK:1e SEC:01 SIZE:400\n"));
    EXPECT_EQ(result.err, consoleText("unsafe file name '../EVIL.BIN', not written\n"
                                      "unsafe file name '/tmp/D88.X', not written\n"
                                      "unsafe file name 'SUB/X', not written\n"));
    EXPECT_FALSE(fileExists(absolute));
    EXPECT_TRUE(listDirectory(work + "/SUB").empty());
    rmdir((work + "/SUB").c_str());
    expectFiles({{"OK.BIN", patternBytes(1, 1)}});
}

TEST_P(Failure, HostFilesThatCannotBeCreated) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), " EMPTY", 30, 1, 1, 0); // the name ends at once
    set.setEntry(entryOffset(1), ".", 30, 1, 1, 0);
    set.setEntry(entryOffset(2), "DIR", 30, 1, 1, 0);
    set.setEntry(entryOffset(3), "OK.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    mkdir((work + "/DIR").c_str(), 0700);
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("OK.BIN        DISK:01 TRK:1e SEC:01 SIZE:400\n"));
    EXPECT_EQ(result.err, consoleText("cannot create file '': " + systemMessage(ENOENT) + "\n" +
                                      "cannot create file '.': " + systemMessage(EISDIR) + "\n" +
                                      "cannot create file 'DIR': " + systemMessage(EISDIR) + "\n"));
    rmdir((work + "/DIR").c_str());
    expectFiles({{"OK.BIN", patternBytes(1, 1)}});
}

TEST_P(Failure, ReadOnlyDirectory) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the launcher's own files belong to this user";
    }
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    root.write("image.d88", set.build());
    // Readable by anyone, writable by nobody: root itself would write anyway, so the program
    // then runs as an unprivileged user.
    chmod(root.path().c_str(), 0755);
    chmod(imagePath.c_str(), 0644);
    chmod(work.c_str(), 0555);
    RunOptions options;
    options.asUnprivilegedUser = true;
    const RunResult result = runWords(layout(), {"x", imagePath}, options);
    chmod(work.c_str(), 0700);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              consoleText("cannot create file 'A.BIN': " + systemMessage(EACCES) + "\n"));
    expectFiles({});
}

// As an unprivileged user, who owns the working folder: a file that the user may not write
// stays as it is, and a replaced file keeps its owner and mode but not its set-user-ID and
// set-group-ID bits.
TEST_P(Failure, AnUnprivilegedUserReplacesOnlyWhatItMayWrite) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the launcher's own files belong to this user";
    }
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    root.write("image.d88", set.build());
    chmod(root.path().c_str(), 0755);
    chmod(imagePath.c_str(), 0644);
    const uid_t user = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    ASSERT_EQ(chown(work.c_str(), user, group), 0);
    const struct {
        mode_t mode;
        int status;
        std::string err;
        std::vector<uint8_t> bytes; // A.BIN afterwards
        mode_t modeAfter;
    } rows[] = {
        {0444, 1, "cannot create file 'A.BIN': " + systemMessage(EACCES) + "\n", {1, 2, 3}, 0444},
        {06755, 0, "", patternBytes(1, 1), 0755},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        const std::string file = root.write("work/A.BIN", {1, 2, 3});
        ASSERT_EQ(chown(file.c_str(), user, group), 0);
        ASSERT_EQ(chmod(file.c_str(), row.mode), 0);
        RunOptions options;
        options.asUnprivilegedUser = true;
        const RunResult result = runWords(layout(), {"x", imagePath}, options);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.err, consoleText(row.err));
        struct stat after {};
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, row.modeAfter);
        EXPECT_EQ(after.st_uid, user);
        EXPECT_TRUE(readFileBytes(file) == row.bytes);
        unlink(file.c_str());
    }
}

TEST_P(Failure, WriteFailureRemovesThePartialFile) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "SMALL.BIN", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), "BIG.BIN", 31, 1, 8, 0);
    set.setEntry(entryOffset(2), "SMALL2.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    set.putFile(0, 31, 1, patternBytes(8, 2));
    RunOptions options;
    options.fileSizeLimit = 4096;
    const RunResult result = extract(layout(), set.build(), options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("SMALL.BIN     DISK:01 TRK:1e SEC:01 SIZE:400\n"
                                      "SMALL2.BIN    DISK:01 TRK:1e SEC:01 SIZE:400\n"));
    EXPECT_EQ(result.err,
              consoleText("cannot write file 'BIG.BIN': " + systemMessage(EFBIG) + "\n"));
    expectFiles({{"SMALL.BIN", patternBytes(1, 1)}, {"SMALL2.BIN", patternBytes(1, 1)}});
}

// A run that cannot write a file leaves the file of an earlier run as it was: every file is
// written under a temporary name first and renamed over the old one only when it is whole.
TEST_P(Failure, AFailedReplacementKeepsTheEarlierFile) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "SMALL.BIN", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), "BIG.BIN", 31, 1, 8, 0);
    const auto files = [&set](int seed) {
        set.putFile(0, 30, 1, patternBytes(1, seed));
        set.putFile(0, 31, 1, patternBytes(8, seed + 1));
        return set.build();
    };
    ASSERT_EQ(extract(layout(), files(1)).status, 0);
    RunOptions limited;
    limited.fileSizeLimit = 4096;
    const RunResult result = extract(layout(), files(3), limited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("SMALL.BIN     DISK:01 TRK:1e SEC:01 SIZE:400\n"));
    EXPECT_EQ(result.err,
              consoleText("cannot write file 'BIG.BIN': " + systemMessage(EFBIG) + "\n"));
    expectFiles({{"SMALL.BIN", patternBytes(1, 3)}, {"BIG.BIN", patternBytes(8, 2)}});
}

// A full disk: the working folder on a file system of 16 KiB, which holds both files but not a
// new BIG.BIN beside the old one. Mounting one takes root: CI runs this as root.
TEST_P(Failure, AFullDiskKeepsTheEarlierFile) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "SMALL.BIN", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), "BIG.BIN", 31, 1, 8, 0);
    const auto files = [&set](int seed) {
        set.putFile(0, 30, 1, patternBytes(1, seed));
        set.putFile(0, 31, 1, patternBytes(8, seed + 1));
        return set.build();
    };
    if (mount("d88test", work.c_str(), "tmpfs", 0, "size=16k,mode=0700") != 0) {
        GTEST_SKIP() << "no tmpfs can be mounted here (" << strerror(errno)
                     << "): the full disk is tried only where the tests run as root";
    }
    ASSERT_EQ(extract(layout(), files(1)).status, 0);
    const RunResult full = extract(layout(), files(5));
    const bool written =
        listDirectory(work).size() == 2 && readFileBytes(work + "/BIG.BIN") == patternBytes(8, 2);
    const std::vector<uint8_t> small = readFileBytes(work + "/SMALL.BIN");
    umount(work.c_str());
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err,
              consoleText("cannot write file 'BIG.BIN': " + systemMessage(ENOSPC) + "\n"));
    EXPECT_TRUE(written) << "the earlier BIG.BIN, and nothing else beside SMALL.BIN";
    EXPECT_EQ(small, patternBytes(1, 5));
}

TEST_P(Failure, TheImageItselfIsNeverWrittenOver) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "SELF.D88", 30, 1, 1, 0);
    set.setEntry(entryOffset(1), "LINK.D88", 30, 1, 1, 0);
    set.setEntry(entryOffset(2), "OK.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    const std::vector<uint8_t> image = set.build();
    const std::string self = work + "/SELF.D88";
    FILE* out = fopen(self.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(image.data(), 1, image.size(), out);
    fclose(out);
    ASSERT_EQ(link(self.c_str(), (work + "/LINK.D88").c_str()), 0);
    const RunResult result = runWords(layout(), {"x", self});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, consoleText("OK.BIN        DISK:01 TRK:1e SEC:01 SIZE:400\n"));
    EXPECT_EQ(result.err,
              consoleText("cannot create file 'SELF.D88': it is the image being read\n"
                          "cannot create file 'LINK.D88': it is the image being read\n"));
    expectFiles({{"SELF.D88", image}, {"LINK.D88", image}, {"OK.BIN", patternBytes(1, 1)}});
}

TEST_P(Failure, SymbolicLinksAreNotFollowed) {
    if (usesLauncher()) {
        GTEST_SKIP() << "Windows programs follow the host's links";
    }
    TempDir elsewhere;
    const std::string target = elsewhere.write("precious.txt", {'k', 'e', 'e', 'p'});
    ASSERT_EQ(symlink(target.c_str(), (work + "/A.BIN").c_str()), 0);
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    ASSERT_EQ(mkfifo((work + "/B.BIN").c_str(), 0600), 0); // a pipe in the way is kept too
    set.setEntry(entryOffset(1), "B.BIN", 30, 1, 1, 0);
    const RunResult result = extract(layout(), set.build());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "cannot create file 'A.BIN': it is a symbolic link\n"
                          "cannot create file 'B.BIN': it is not a regular file\n");
    EXPECT_EQ(readFileBytes(target), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    struct stat info;
    EXPECT_TRUE(lstat((work + "/B.BIN").c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
}

// A replacement is a new file: it takes the old one's permission bits, owner and group, but a
// hard link to the old file keeps the old bytes.
TEST_P(Failure, AReplacementKeepsModeAndOwnerButNotHardLinks) {
    if (usesLauncher()) {
        GTEST_SKIP() << "Windows files have no such mode and owner";
    }
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    const std::string path = root.write("work/A.BIN", old);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    // Root gives the file to another user and group, and the replacement keeps both. Another
    // user gives it a group of theirs that is not the one their files get, and the replacement
    // keeps that group.
    const bool privileged = geteuid() == 0;
    uid_t owner = geteuid();
    gid_t group = privileged ? 65534 : getegid();
    if (privileged) {
        owner = 65534;
    } else {
        std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)) + 1);
        groups.resize(
            static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
        for (const gid_t other : groups) {
            group = group == getegid() && other != getegid() ? other : group;
        }
    }
    ASSERT_EQ(chown(path.c_str(), owner, group), 0);
    TempDir elsewhere;
    ASSERT_EQ(link(path.c_str(), elsewhere.file("other").c_str()), 0);
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    EXPECT_EQ(extract(layout(), set.build()).status, 0);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_uid, owner);
    EXPECT_EQ(info.st_gid, group);
    EXPECT_EQ(info.st_nlink, 1u);
    expectFiles({{"A.BIN", patternBytes(1, 1)}});
    EXPECT_EQ(readFileBytes(elsewhere.file("other")), old);
    if (!privileged && group == getegid()) {
        GTEST_SKIP() << "the group was not tried: this user is in no group but its own (CI runs "
                        "this as root and as a user in a second group)";
    }
}

// A signal that ends the program leaves nothing of the file being written, whether it was to
// replace a file (whose old bytes stay) or take a free name; the program ends by that signal.
TEST_P(Failure, NoTemporaryFileOutlivesASignal) {
    if (usesLauncher()) {
        GTEST_SKIP() << "Windows programs get no signals";
    }
    const rlimit noCore{0, 0}; // SIGQUIT and SIGXCPU would otherwise leave a core file here
    setrlimit(RLIMIT_CORE, &noCore);
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    const std::vector<uint8_t> image = set.build();
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                   SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR, SIGRTMIN + 2}) {
        for (const bool replacing : {true, false}) {
            unlink((work + "/A.BIN").c_str());
            if (replacing) {
                root.write("work/A.BIN", old);
            }
            const RunResult result = runPaused(
                root.file("pause"), [&] { return extract(layout(), image); },
                [signalNumber](pid_t pid) { kill(pid, signalNumber); });
            EXPECT_EQ(result.status, 128 + signalNumber) << strsignal(signalNumber);
            if (replacing) {
                expectFiles({{"A.BIN", old}});
            } else {
                expectFiles({});
            }
        }
    }
}

// What another program puts under a free name while the new file is written is left alone,
// and the program says what it found there.
TEST_P(Failure, ANameTakenWhileTheFileIsWrittenIsLeftAlone) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the pause is a hook of the Linux test builds";
    }
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "A.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    const std::vector<uint8_t> image = set.build();
    const std::string name = work + "/A.BIN";
    const std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] { mkfifo(name.c_str(), 0600); }, "it is not a regular file"},
        {[&] { symlink("elsewhere", name.c_str()); }, "it is a symbolic link"},
        {[&] {
             root.write("work/A.BIN", {'t', 'h', 'e', 'i', 'r', 's'});
         },
         "a file of that name appeared while it was written"}};
    for (const auto& [makeFile, message] : rows) {
        unlink(name.c_str());
        const RunResult result = runPaused(
            root.file("pause"), [&] { return extract(layout(), image); },
            [&makeFile = makeFile](pid_t) { makeFile(); });
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "cannot create file 'A.BIN': " + message + "\n");
        EXPECT_EQ(listDirectory(work), std::vector<std::string>{"A.BIN"});
    }
    EXPECT_EQ(readFileBytes(name), (std::vector<uint8_t>{'t', 'h', 'e', 'i', 'r', 's'}));
    unlink(name.c_str());
}

// An image file cut short by another program after the plan (here while the first file is
// named) gives fewer bytes than planned: each later file is written with its own bytes or not
// at all, never with zeros in place of the bytes that went away, and a file not written is said.
TEST_P(Failure, AnImageCutShortDuringTheRunWritesNoZerosForItsBytes) {
    if (usesLauncher()) {
        GTEST_SKIP() << "the pause is a hook of the Linux test builds";
    }
    DiskSetImage set(4);
    std::map<std::string, std::vector<uint8_t>> planned;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "F" + std::to_string(i) + ".BIN";
        // 480 KiB of files in all, more than the reader keeps of the image
        set.setEntry(entryOffset(i), name, 10 + 20 * (i / 4), 1, 40, i % 4);
        set.putFile(i % 4, 10 + 20 * (i / 4), 1, patternBytes(40, i + 1));
        planned[name] = patternBytes(40, i + 1);
    }
    bool cut = false;
    const RunResult result = runPaused(
        root.file("pause"), [&] { return extract(layout(), set.build()); },
        [&](pid_t) {
            if (!cut) {
                cut = truncate(imagePath.c_str(), 0) == 0;
            }
        });
    ASSERT_TRUE(cut);
    EXPECT_EQ(result.status, 1);
    int notWritten = 0;
    for (const auto& [name, bytes] : planned) {
        if (access((work + "/" + name).c_str(), F_OK) == 0) {
            EXPECT_EQ(readFileBytes(work + "/" + name), bytes) << name;
        } else {
            ++notWritten;
            EXPECT_NE(result.err.find("cannot create file '" + name +
                                      "': the image's files changed while they were read\n"),
                      std::string::npos)
                << name;
        }
    }
    EXPECT_GT(notWritten, 0);
}

// On Windows a name can be the short (8.3) name of a file with another long name: writing it
// would replace that file, so it is refused. Elsewhere it is a name like any other.
TEST_P(Failure, AShortNameOfAnotherFileIsRefused) {
    const std::vector<uint8_t> keep = {'k', 'e', 'e', 'p'};
    root.write("work/LargeFileBackup.bin", keep);
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "LARG~FW1.BIN", 30, 1, 1, 0); // wine's short name for it
    set.setEntry(entryOffset(1), "OK.BIN", 30, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    const RunResult result = extract(layout(), set.build());
    if (usesLauncher()) {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, consoleText("OK.BIN        DISK:01 TRK:1e SEC:01 SIZE:400\n"));
        EXPECT_EQ(result.err, consoleText("cannot create file 'LARG~FW1.BIN': it is the short "
                                          "name of another file\n"));
        expectFiles({{"LargeFileBackup.bin", keep}, {"OK.BIN", patternBytes(1, 1)}});
    } else {
        EXPECT_EQ(result.status, 0);
        expectFiles({{"LargeFileBackup.bin", keep},
                     {"LARG~FW1.BIN", patternBytes(1, 1)},
                     {"OK.BIN", patternBytes(1, 1)}});
    }
}

// What Windows takes for a path, a device or another name is refused there, and so are bytes
// that are not Shift_JIS (a lead byte at the end, a lead byte before 0x7F), which no Windows
// name stands for; on other hosts the same names are plain file names. A Shift_JIS character
// whose second byte is 0x5C is never a separator.
TEST_P(Failure, WindowsPathsAndDevices) {
    DiskSetImage set(4);
    const std::vector<std::string> names = {"..\\UP.BIN", "C:DRIVE.BIN", "NUL.BIN", "\\ROOT",
                                            "A<B?.BIN",   "DOT.",        "BAD\x83", "\x81\x7F.BIN"};
    for (size_t i = 0; i < names.size(); ++i) {
        set.setEntry(entryOffset(static_cast<int>(i)), names[i], 30, 1, 1, 0);
    }
    set.setEntry(entryOffset(static_cast<int>(names.size())), "\x95\x5C.BIN", 30, 1, 1, 0); // 表
    set.putFile(0, 30, 1, patternBytes(1, 1));
    const RunResult result = extract(layout(), set.build());
    std::map<std::string, std::vector<uint8_t>> files = {{"\x95\x5C.BIN", patternBytes(1, 1)}};
    std::string out;
    std::string err;
    for (const std::string& name : names) {
        if (usesLauncher()) {
            err += "unsafe file name '" + name + "', not written\n";
        } else {
            files[name] = patternBytes(1, 1);
            out += name + std::string(14 - name.size(), ' ') + "DISK:01 TRK:1e SEC:01 SIZE:400\n";
        }
    }
    out += "\x95\x5C.BIN        DISK:01 TRK:1e SEC:01 SIZE:400\n";
    EXPECT_EQ(result.status, usesLauncher() ? 1 : 0);
    EXPECT_EQ(result.out, consoleText(out));
    EXPECT_EQ(result.err, consoleText(err));
    expectFiles(files);
}

// Control bytes in a name are shown as \xNN on a terminal, so that an image cannot rewrite the
// screen; to a pipe or a file they go as stored. Windows refuses such a name, and its console
// shows a Shift_JIS name as its characters on any code page.
TEST_P(Failure, NamesOnATerminal) {
    DiskSetImage set(4);
    set.setEntry(entryOffset(0), "\x1b[7mX.BIN", 30, 5, 2, 0); // its second sector is missing
    set.setEntry(entryOffset(1), "\x95\x5C\x8E\xA6.TXT", 30, 1, 1, 0); // 表示.TXT
    set.putFile(0, 30, 1, patternBytes(1, 1));
    RunOptions onTerminal;
    onTerminal.terminal = true;
    const RunResult shown = extract(layout(), set.build(), onTerminal);
    const RunResult piped = extract(layout(), set.build());
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(piped.status, 1);
    const std::string kanji = "\x95\x5C\x8E\xA6.TXT      DISK:01 TRK:1e SEC:01 SIZE:400";
    if (usesLauncher()) {
        // Wine's console writes UTF-8 to the terminal, among control sequences of its own.
        EXPECT_NE(shown.out.find("unsafe file name '\\x1b[7mX.BIN', not written"),
                  std::string::npos)
            << shown.out;
        EXPECT_NE(shown.out.find("\xE8\xA1\xA8\xE7\xA4\xBA.TXT      DISK:01"), std::string::npos)
            << shown.out;
        EXPECT_EQ(piped.err, consoleText("unsafe file name '\x1b[7mX.BIN', not written\n"));
        EXPECT_EQ(piped.out, consoleText(kanji + "\n"));
    } else {
        EXPECT_EQ(shown.out, "\\x1b[7mX.BIN  DISK:01 TRK:1e SEC:05 SIZE:800\r\n"
                             "incomplete file '\\x1b[7mX.BIN': 1024 of 2048 bytes read\r\n" +
                                 kanji + "\r\n");
        EXPECT_EQ(piped.out, "\x1b[7mX.BIN     DISK:01 TRK:1e SEC:05 SIZE:800\n" + kanji + "\n");
        EXPECT_EQ(piped.err, "incomplete file '\x1b[7mX.BIN': 1024 of 2048 bytes read\n");
    }
}

// On a terminal whose locale shows UTF-8, the C1 controls C2 80 to C2 9F (here CSI) are shown as
// bytes too; a terminal of another character set (Shift_JIS) gets the bytes as they are.
TEST_P(Failure, C1ControlsOnAUtf8Terminal) {
    if (usesLauncher()) {
        GTEST_SKIP() << "a Windows console shows names as Shift_JIS";
    }
    DiskSetImage set(4);
    set.setEntry(entryOffset(0),
                 "\xC2\x9B"
                 "7mX.BIN",
                 30, 1, 1, 0);
    // The edges: 0x1F and 0x7F are controls, '~' and C2 A0 (no-break space) are not, C2 80 and
    // C2 9F are the first and last C1 controls.
    set.setEntry(entryOffset(1), "\x1F~\x7F\xC2\xA0\xC2\x80\xC2\x9F", 31, 1, 1, 0);
    set.putFile(0, 30, 1, patternBytes(1, 1));
    set.putFile(0, 31, 1, patternBytes(1, 2));
    const char* before = getenv("LC_ALL");
    const std::string saved = before != nullptr ? before : "";
    RunOptions onTerminal;
    onTerminal.terminal = true;
    setenv("LC_ALL", "C.UTF-8", 1);
    const RunResult utf8 = extract(layout(), set.build(), onTerminal);
    setenv("LC_ALL", "C", 1);
    const RunResult other = extract(layout(), set.build(), onTerminal);
    if (before != nullptr) {
        setenv("LC_ALL", saved.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    EXPECT_EQ(utf8.out,
              "\\xc2\\x9b7mX.BIN  DISK:01 TRK:1e SEC:01 SIZE:400\r\n"
              "\\x1f~\\x7f\xC2\xA0\\xc2\\x80\\xc2\\x9f  DISK:01 TRK:1f SEC:01 SIZE:400\r\n");
    EXPECT_EQ(other.out, "\xC2\x9B"
                         "7mX.BIN     DISK:01 TRK:1e SEC:01 SIZE:400\r\n"
                         "\\x1f~\\x7f\xC2\xA0\xC2\x80\xC2\x9F  DISK:01 TRK:1f SEC:01 SIZE:400\r\n");
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Failure, ::testing::Values(&LAYOUT_A, &LAYOUT_B),
                         LayoutName());
