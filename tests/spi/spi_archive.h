// The test plug-in spi_archive: an archive plug-in for "*.tqa" whose
// "archive" is a text file that describes what the plug-in answers, so that
// a test writes the exact table of contents, hostile or not.
//
// One line each, fields separated by tabs:
//   stride N    records of N bytes: 432 (8-byte time) or 428 (4-byte time)
//   noterm      no terminating record
//   block D     the listing block is D bytes longer (or shorter) than its records
//   nohandle    GetArchiveInfo answers success and hands back no block
//   raw DATA    the listing block is DATA (below) as it stands
//   e METHOD POS SIZE PATH NAME FLAGS DATA
//               one entry. Its true position is its 1-based entry number and
//               its true size that of DATA; POS or SIZE "-" lists the true
//               value. DATA "@file" is that file beside the description,
//               "*N" N pattern bytes (TestArchiveByte), anything else the text
//               itself. Names of 200 bytes or more fill their field with no NUL.
// FLAGS (any of, "-" for none):
//   q  GetFileInfo does not find the entry
//   s  GetFile hands back a block one byte short of the data
//   n  GetFile answers 0 with no handle
//   x  GetFile answers 8
//   f  GetFile answers 0 with a handle it has freed
// GetFileInfo finds the first entry whose path and name, joined, equal the
// query without regard to ASCII letter case, and writes one record of the
// description's stride.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int {
    kTestArchiveInfoCalls = 0,  // GetArchiveInfo
    kTestFileInfoCalls = 1,     // GetFileInfo
    kTestFileCalls = 2,         // GetFile
};

// Byte i of the pattern data of the entry at a position.
inline std::uint8_t TestArchiveByte(std::uint32_t position, std::size_t i) {
    return std::uint8_t(i * 31 + position * 7 + (i >> 8));
}

extern "C" {
typedef int (*TestArchiveCallsProc)(int which);
}
