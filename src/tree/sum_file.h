// SHA-256 sum files, in the format sha256sum writes and checks: one line per file, its digest as
// 64 lowercase hexadecimal digits, two spaces and its path relative to the root of the tree, with
// forward slashes, in UTF-8, ending in a line feed. A name with a line feed or a carriage return
// is written escaped, as sha256sum does: the line begins with a backslash, and "\\", "\n" and "\r"
// in the name stand for those characters.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// The sum file being written, and one line's worth of room, from the heap.
struct SumWriter {
    HANDLE file;  // INVALID_HANDLE_VALUE when there is none
    char* line;
};

// Creates the file, replacing one of that name; others may read it meanwhile. False, with the
// last error kept, when it cannot be created.
bool OpenSumWriter(SumWriter* writer, const wchar_t* path);

// Writes the line of one file in one write, so that a run killed at any moment leaves whole
// lines; one thread at a time, on a writer that OpenSumWriter opened. `relativePath` is relative
// to the root, with backslashes or slashes; leading ones are dropped. False, with the last error,
// when the path is empty or no valid UTF-16 (an unpaired surrogate; nothing is written then) or
// the write fails.
bool WriteSumLine(SumWriter* writer, const uint8_t digest[32], const wchar_t* relativePath);

// Closes the file and frees the room; false when the close fails. Safe on a writer never opened
// if it was zero-filled.
bool CloseSumWriter(SumWriter* writer);

// One file of a sum file: its digest and its path relative to the root, with backslashes.
struct SumEntry {
    uint8_t digest[32];
    const wchar_t* path;
};

struct SumNameBlock;
struct SumSlot;

struct SumList {
    SumEntry* entries;  // in the order of the file
    uint32_t count;
    uint32_t capacity;         // of entries; it doubles as it fills
    SumNameBlock* nameBlocks;  // the characters of the paths, many paths a block
    SumSlot* slots;            // open addressing over the paths, to find a path listed twice
    uint32_t slotCount;
};

// Reads a sum file whole into `list`, which it overwrites without freeing. Takes the lines that
// sha256sum writes: text ("hex  path"), binary ("hex *path") and tagged ("SHA256 (path) = hex"),
// escaped or not, with digits of either case, line ends LF or CR LF, a last line without one, a
// UTF-8 byte order mark, blank lines, and paths with slashes or backslashes ("." folders are
// dropped). On false the list is empty and `badLine` tells why:
//   the 1-based number of the first line that is no sum: no such line, a path that is no valid
//     UTF-8, empty, too long, absolute, with a drive letter or any colon, or with a ".." folder,
//     which would lead outside the root given to the check (last error ERROR_INVALID_DATA);
//   the line of a path listed before, compared as Windows compares names, without regard to
//     case or slashes (last error ERROR_DUP_NAME);
//   0 when the file cannot be opened or read, with the last error kept.
bool ReadSumFile(const wchar_t* path, SumList* list, uint32_t* badLine);

// The entry that lists `path` (relative, with backslashes), compared as Windows compares names;
// null where none does.
const SumEntry* FindSumEntry(const SumList* list, const wchar_t* path);

// Frees what the list holds and empties it.
void FreeSumList(SumList* list);
