// Files with several hard links: each identity is compared once per side and run.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// One file's identity: its volume's serial number and its id on that volume. Ids are unique per
// volume only, and only in their 128-bit form: ReFS hands out 64-bit indexes that repeat.
struct FileId {
    uint64_t volume;
    uint64_t low;
    uint64_t high;
};

// The identities seen in a run, in an open-addressing table: a tree with many hard links would
// cost a scan of every earlier identity per file otherwise. A zeroed list is empty.
// A key is the pair of identities of a compared pair, side 1 and side 2.
struct FileIdKey {
    FileId sides[2];
};

struct FileIdSlot {
    FileIdKey key;
    uint32_t used;
    bool hasDigest;  // with -h: the SHA-256 of the pair's bytes, for its other names
    uint8_t digest[32];
};

struct FileIdList {
    FileIdSlot* slots;
    uint32_t capacity;  // 0 or a power of two
    uint32_t count;
};

// An empty list on the heap, for FreeFileIdList.
FileIdList* NewFileIdList();

// The identity of an open file: the 128-bit id where the system tells it, the 64-bit index of
// `info` (already asked for the handle) only where the system has no 128-bit ids. False when no
// identity can be trusted.
bool ReadFileId(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info, FileId* id);

// The identities of both sides of an open pair. With `linkedOnly` only where a side has several
// links (only then can the pair come again in a tree). False when there is none to trust.
bool ReadPairKey(HANDLE side1, HANDLE side2, bool linkedOnly, FileIdKey* key);

// The identity of the file or folder at `path`, opened without access to its contents.
bool ReadPathId(const wchar_t* path, FileId* id);

// Both sides of the key carry one identity. That alone proves nothing: a clone of a volume (a
// sector copy, a restored image, a shadow copy) keeps its serial number and every file id.
bool IsOneFile(const FileIdKey& key);

// Both handles are to files of one volume, as the system names the volume they were opened on;
// false where that cannot be told.
bool OnOneVolume(HANDLE side1, HANDLE side2);

// The two handles, whose identities make `key`, are proven to be one file: one identity on one
// volume.
bool ProvenOneFile(HANDLE side1, HANDLE side2, const FileIdKey& key);

// The same for two paths, files or folders, opened without access to their contents.
bool PathsAreOneFile(const wchar_t* path1, const wchar_t* path2);

// Whether the key is in the list.
bool HasFileIdKey(const FileIdList* list, const FileIdKey& key);

// 0 when the key is already in the list; otherwise adds it, with the pair's digest where one is
// given, and returns 1.
int RememberFileIdKey(FileIdList* list, const FileIdKey& key, const uint8_t* digest = nullptr);

// The digest remembered with the key; false where none was.
bool FileIdDigest(const FileIdList* list, const FileIdKey& key, uint8_t* digest);

// Releases the table; FreeFileIdList releases the list head too.
void FreeFileIdSlots(FileIdList* list);
void FreeFileIdList(FileIdList* list);
