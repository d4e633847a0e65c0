// The programs' fixed messages. The two Japanese ones are Shift_JIS (code page 932) bytes,
// written without any conversion.
#pragma once

#define MSG_USAGE "Usage: %s [d88file]\n"

// "ファイルをオープンできません.\n": the file cannot be opened.
#define MSG_CANNOT_OPEN_IMAGE                                                                      \
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"     \
    "\x82\xDC\x82\xB9\x82\xF1\x2E\x0A"

// "Disk A～Disk Dが連結したイメージを使用してください.\n": use an image in which Disk A to
// Disk D are joined.
#define MSG_TOO_FEW_DISKS                                                                          \
    "Disk A\x81\x60"                                                                               \
    "Disk D\x82\xAA\x98\x41\x8C\x8B\x82\xB5\x82\xBD\x83\x43\x83\x81\x81\x5B\x83\x57\x82\xF0\x8E"   \
    "\x67\x97\x70\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x2E\x0A"

#define MSG_REPORT_LINE_TEXT "%-12s  DISK:%02x TRK:%02x SEC:%02x SIZE:%02x"
#define MSG_REPORT_LINE MSG_REPORT_LINE_TEXT "\n"
#define MSG_INCOMPLETE_FILE "incomplete file '%s': %d of %d bytes read\n"
#define MSG_DIRECTORY_READ_ERRORS                                                                  \
    "read errors in the directory: %d of %d sectors stored with an error status\n"
#define MSG_FILE_READ_ERRORS                                                                       \
    "read errors in file '%s': %d of %d sectors stored with an error status\n"
#define MSG_FILE_READ_ERRORS_EVERY_COPY                                                            \
    "read errors in file '%s': %d of %d sectors stored with an error status in every copy%s\n"
// d88extract: the sectors of a file whose copies, read without error, hold other bytes.
#define MSG_CONTESTED_SECTORS                                                                      \
    "contested sector%s %s of file '%s': its copies read without error hold other bytes; "         \
    "taken%s\n"
// d88extract: a file of the set none of whose sectors can be read.
#define MSG_FIRST_SECTOR_UNREAD                                                                    \
    "file '%s' not written: its first sector (%s, track %d, sector %d) is %s\n"
#define MSG_UNSAFE_NAME "unsafe file name '%s', not written\n"
#define MSG_CANNOT_CREATE "cannot create file '%s': %s\n"
#define MSG_IMAGE_ITSELF "cannot create file '%s': it is the image being read\n"
#define MSG_SYMBOLIC_LINK "cannot create file '%s': it is a symbolic link\n"
#define MSG_NOT_REGULAR_FILE "cannot create file '%s': it is not a regular file\n"
#define MSG_SHORT_NAME "cannot create file '%s': it is the short name of another file\n"
#define MSG_APPEARED "cannot create file '%s': a file of that name appeared while it was written\n"
#define MSG_CANNOT_WRITE "cannot write file '%s': %s\n"
#define MSG_REPLACES_EARLIER "file '%s' replaces the earlier file '%s'\n"
#define MSG_CANNOT_WRITE_STDOUT "cannot write standard output\n"
// d88extract -k: a file stood under the name and is left as it is.
#define MSG_KEPT "kept the existing file '%s'\n"
