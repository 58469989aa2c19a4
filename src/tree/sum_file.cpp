#include "tree/sum_file.h"

#include <cstring>

#include "base/memory.h"
#include "base/scoped_handles.h"
#include "base/types.h"
#include "compare/sha256.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"

// A block of path characters and its header; the characters follow the header.
struct SumNameBlock {
    SumNameBlock* previous;
    size_t used;  // characters, terminators included
    wchar_t* Chars() { return reinterpret_cast<wchar_t*>(this + 1); }
};

// One slot of the path table: the case-folded hash of a path and its place plus one (0: free).
struct SumSlot {
    uint32_t hash;
    uint32_t place;
};

namespace {

// A path of the longest the program handles takes at most three bytes a UTF-16 unit in UTF-8 (a
// pair of surrogates takes four), and an escaped line feed or carriage return takes two.
constexpr size_t kPathBytes = 3 * size_t{kPathChars};
// A backslash ahead of an escaped line, 64 digits, two characters, the path and the line feed.
constexpr size_t kLineBytes = 1 + 64 + 2 + kPathBytes + 1;

}  // namespace

bool OpenSumWriter(SumWriter* writer, const wchar_t* path) {
    writer->line = nullptr;
    writer->file = win.CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (writer->file == INVALID_HANDLE_VALUE) return false;
    writer->line = static_cast<char*>(AllocZeroed(kLineBytes));
    return true;
}

bool WriteSumLine(SumWriter* writer, const uint8_t digest[32], const wchar_t* relativePath) {
    while (*relativePath == L'\\' || *relativePath == L'/') ++relativePath;
    bool escaped = false;
    for (const wchar_t* at = relativePath; *at; ++at) escaped |= *at == L'\n' || *at == L'\r';
    char* line = writer->line;
    size_t at = 0;
    if (escaped) line[at++] = '\\';
    Sha256Hex(digest, line + at);
    at += 64;
    line[at++] = ' ';
    line[at++] = ' ';
    char* name = line + at;
    // A name that is no valid UTF-16 (an unpaired surrogate, which NTFS allows) would be written
    // with a replacement character and name another file.
    int bytes = *relativePath ? win.WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, relativePath, -1, name,
                                                        static_cast<int>(kPathBytes), nullptr, nullptr)
                              : 0;
    if (bytes <= 0) {
        if (!*relativePath) win.SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    size_t length = static_cast<size_t>(bytes - 1), extra = 0;
    for (size_t i = 0; i < length; ++i) {
        if (name[i] == '\\') name[i] = '/';
        extra += name[i] == '\n' || name[i] == '\r';
    }
    if (length + extra > kPathBytes) {
        win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // Widened in place from the end, each line feed or carriage return becoming two characters.
    for (size_t from = length, to = length + extra; from != to;) {
        char c = name[--from];
        if (c == '\n' || c == '\r') {
            name[--to] = c == '\n' ? 'n' : 'r';
            c = '\\';
        }
        name[--to] = c;
    }
    at += length + extra;
    line[at++] = '\n';
    DWORD written = 0;
    if (!win.WriteFile(writer->file, line, static_cast<DWORD>(at), &written, nullptr)) return false;
    if (written == at) return true;
    win.SetLastError(ERROR_WRITE_FAULT);
    return false;
}

bool CloseSumWriter(SumWriter* writer) {
    bool closed = true;
    if (writer->file && writer->file != INVALID_HANDLE_VALUE) closed = win.CloseHandle(writer->file) != FALSE;
    writer->file = INVALID_HANDLE_VALUE;
    FreeBlock(writer->line);
    writer->line = nullptr;
    return closed;
}

namespace {

constexpr uint32_t kFirstCapacity = 1024;
constexpr size_t kNameBlockChars = 2 * size_t{kPathChars};  // room for the longest path, twice
constexpr size_t kReadBytes = 1 << 20;
// The longest line that can hold a path the program handles: a tagged, escaped line.
constexpr size_t kMaxLineBytes = 80 + kPathBytes;
static_assert(kMaxLineBytes < kReadBytes, "a line must fit in one read's room");

// FNV-1a over the upper-case form of each character: paths that differ only in case meet in one
// chain, where the same folding decides.
uint32_t FoldedHash(const wchar_t* path) {
    uint32_t hash = 2166136261u;
    for (; *path; ++path) hash = (hash ^ UpperCaseChar(*path)) * 16777619u;
    return hash;
}

// The room the reading works in, one heap block for the whole file.
struct ReadRoom {
    char bytes[kReadBytes];    // what was read and not yet taken, from the start of a line
    char name[kMaxLineBytes];  // a name with its escapes undone
    wchar_t wide[kPathChars];  // the name in UTF-16
    wchar_t path[kPathChars];  // the name as a relative path with backslashes
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadDigest(const char* hex, uint8_t digest[32]) {
    for (int i = 0; i < 32; ++i) {
        int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

// Undoes the escapes of an escaped name ("\\", "\n", "\r"); false on any other backslash.
bool Unescape(const char* text, size_t length, char* out, size_t* outLength) {
    size_t o = 0;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '\\') {
            if (++i == length) return false;
            c = text[i] == '\\' ? '\\' : text[i] == 'n' ? '\n' : text[i] == 'r' ? '\r' : 0;
            if (!c) return false;
        }
        out[o++] = c;
    }
    *outLength = o;
    return true;
}

// The name as a path below the root, with backslashes, into `path`: "." folders and empty ones
// (a doubled slash) dropped; false for an absolute path, a colon (a drive, or a stream, never a
// file of the tree), a ".." folder, or a path that names a folder or nothing at all.
bool PathBelowRoot(const wchar_t* name, size_t length, wchar_t* path) {
    if (length == 0 || name[0] == L'/' || name[0] == L'\\') return false;
    size_t out = 0;
    for (size_t start = 0; start <= length;) {
        size_t end = start;
        while (end < length && name[end] != L'/' && name[end] != L'\\') {
            if (name[end] == L':') return false;
            ++end;
        }
        size_t chars = end - start;
        bool dot = chars == 1 && name[start] == L'.';
        if (chars == 2 && name[start] == L'.' && name[start + 1] == L'.') return false;
        if (end == length && (chars == 0 || dot)) return false;
        if (chars != 0 && !dot) {
            if (out) path[out++] = L'\\';
            memcpy(path + out, name + start, chars * sizeof(wchar_t));
            out += chars;
        }
        start = end + 1;
    }
    path[out] = 0;
    return true;
}

// Makes room for one more entry, and keeps the table at most half full.
void Grow(SumList* list) {
    if (list->count == list->capacity) {
        uint32_t capacity = list->capacity ? list->capacity * 2 : kFirstCapacity;
        auto* entries = static_cast<SumEntry*>(AllocZeroed(uint64_t{capacity} * sizeof(SumEntry)));
        if (list->count) memcpy(entries, list->entries, list->count * sizeof(SumEntry));
        FreeBlock(list->entries);
        list->entries = entries;
        list->capacity = capacity;
    }
    if (uint64_t{list->count + 1} * 2 <= list->slotCount) return;
    uint32_t slotCount = list->slotCount ? list->slotCount * 2 : 2 * kFirstCapacity;
    auto* slots = static_cast<SumSlot*>(AllocZeroed(uint64_t{slotCount} * sizeof(SumSlot)));
    for (uint32_t i = 0; i < list->slotCount; ++i) {
        if (list->slots[i].place == 0) continue;
        uint32_t at = list->slots[i].hash & (slotCount - 1);
        while (slots[at].place != 0) at = (at + 1) & (slotCount - 1);
        slots[at] = list->slots[i];
    }
    FreeBlock(list->slots);
    list->slots = slots;
    list->slotCount = slotCount;
}

// The slot that lists `path` (hashed as `hash`), or the free one where it would go.
uint32_t SlotOf(const SumList* list, const wchar_t* path, uint32_t hash) {
    uint32_t mask = list->slotCount - 1, at = hash & mask;
    for (; list->slots[at].place != 0; at = (at + 1) & mask) {
        const SumSlot& slot = list->slots[at];
        if (slot.hash == hash && SameNameNoCase(list->entries[slot.place - 1].path, path)) break;
    }
    return at;
}

// Adds the entry unless its path is listed already.
bool AddEntry(SumList* list, const uint8_t digest[32], const wchar_t* path) {
    Grow(list);
    uint32_t hash = FoldedHash(path);
    uint32_t at = SlotOf(list, path, hash);
    if (list->slots[at].place != 0) return false;
    size_t chars = wcslen(path) + 1;
    SumNameBlock* block = list->nameBlocks;
    if (!block || block->used + chars > kNameBlockChars) {
        block = static_cast<SumNameBlock*>(AllocZeroed(sizeof(SumNameBlock) + kNameBlockChars * sizeof(wchar_t)));
        block->previous = list->nameBlocks;
        list->nameBlocks = block;
    }
    wchar_t* stored = block->Chars() + block->used;
    memcpy(stored, path, chars * sizeof(wchar_t));
    block->used += chars;
    SumEntry& entry = list->entries[list->count++];
    memcpy(entry.digest, digest, 32);
    entry.path = stored;
    list->slots[at] = {hash, list->count};
    return true;
}

bool IsBlank(const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] != ' ' && text[i] != '\t') return false;
    }
    return true;
}

enum class LineVerdict { kTaken, kNoSum, kListedTwice };

// One line without its line feed: a sum taken into the list, a blank line, or why not.
LineVerdict TakeLine(SumList* list, ReadRoom* room, const char* text, size_t length, bool first) {
    if (first && length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) text += 3, length -= 3;
    if (length && text[length - 1] == '\r') --length;
    if (IsBlank(text, length)) return LineVerdict::kTaken;
    bool escaped = text[0] == '\\';
    if (escaped) ++text, --length;
    const char *hex, *name;
    size_t nameLength;
    static const char kTag[] = "SHA256 (";
    static const char kTagEnd[] = ") = ";
    if (length >= 8 && memcmp(text, kTag, 8) == 0) {
        if (length < 8 + 4 + 64 || memcmp(text + length - 68, kTagEnd, 4) != 0) return LineVerdict::kNoSum;
        hex = text + length - 64;
        name = text + 8;
        nameLength = length - 8 - 68;
    } else {
        if (length < 66 || text[64] != ' ' || (text[65] != ' ' && text[65] != '*')) return LineVerdict::kNoSum;
        hex = text;
        name = text + 66;
        nameLength = length - 66;
    }
    uint8_t digest[32];
    if (!ReadDigest(hex, digest)) return LineVerdict::kNoSum;
    if (escaped) {
        if (!Unescape(name, nameLength, room->name, &nameLength)) return LineVerdict::kNoSum;
        name = room->name;
    }
    if (nameLength == 0 || nameLength > kPathBytes || memchr(name, 0, nameLength)) return LineVerdict::kNoSum;
    int chars = win.MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, static_cast<int>(nameLength), room->wide,
                                        kPathChars - 1);
    if (chars <= 0 || !PathBelowRoot(room->wide, static_cast<size_t>(chars), room->path)) return LineVerdict::kNoSum;
    return AddEntry(list, digest, room->path) ? LineVerdict::kTaken : LineVerdict::kListedTwice;
}

// Reads the lines of the open file into the list; false with the line at fault, or 0 when the
// file could not be read.
bool ReadLines(HANDLE file, SumList* list, ReadRoom* room, uint32_t* badLine) {
    size_t filled = 0;
    uint32_t line = 0;
    for (bool end = false; !end;) {
        DWORD got = 0;
        if (!win.ReadFile(file, room->bytes + filled, static_cast<DWORD>(kReadBytes - filled), &got, nullptr)) {
            *badLine = 0;
            return false;
        }
        end = got == 0;
        filled += got;
        size_t start = 0;
        for (;;) {
            const char* feed = static_cast<const char*>(memchr(room->bytes + start, '\n', filled - start));
            // The last line may end without a line feed.
            if (!feed && !(end && start < filled)) break;
            size_t stop = feed ? static_cast<size_t>(feed - room->bytes) : filled;
            LineVerdict verdict = TakeLine(list, room, room->bytes + start, stop - start, ++line == 1);
            if (verdict != LineVerdict::kTaken) {
                *badLine = line;
                win.SetLastError(verdict == LineVerdict::kNoSum ? ERROR_INVALID_DATA : ERROR_DUP_NAME);
                return false;
            }
            start = feed ? stop + 1 : filled;
        }
        memmove(room->bytes, room->bytes + start, filled - start);
        filled -= start;
        if (filled > kMaxLineBytes) {
            *badLine = line + 1;
            win.SetLastError(ERROR_INVALID_DATA);
            return false;
        }
    }
    return true;
}

}  // namespace

bool ReadSumFile(const wchar_t* path, SumList* list, uint32_t* badLine) {
    *list = {};
    *badLine = 0;
    ScopedHandle file(win.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    ScopedBlock<ReadRoom> room(static_cast<ReadRoom*>(AllocZeroed(sizeof(ReadRoom))));
    if (ReadLines(file.get(), list, room.get(), badLine)) return true;
    DWORD error = win.GetLastError();
    FreeSumList(list);
    win.SetLastError(error);
    return false;
}

const SumEntry* FindSumEntry(const SumList* list, const wchar_t* path) {
    if (list->slotCount == 0) return nullptr;
    const SumSlot& slot = list->slots[SlotOf(list, path, FoldedHash(path))];
    return slot.place != 0 ? &list->entries[slot.place - 1] : nullptr;
}

void FreeSumList(SumList* list) {
    while (SumNameBlock* block = list->nameBlocks) {
        list->nameBlocks = block->previous;
        FreeBlock(block);
    }
    FreeBlock(list->entries);
    FreeBlock(list->slots);
    *list = {};
}
