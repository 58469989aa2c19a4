#include "tree/reparse_points.h"

#include <cstring>
#include <cwchar>

#include "base/memory.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "base/scoped_handles.h"
#include "base/types.h"
#include "console/console_output.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"
#include "tree/tree_strings.h"

namespace {

// The reparse data layout: tag, data length and a reserved word, then for both link kinds the
// offsets and lengths of the two names; a symbolic link adds a flags word before its names.
constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kJunctionNamesAt = 16;
constexpr uint32_t kSymlinkNamesAt = 20;
// The largest reparse data the system keeps: a smaller buffer fails with ERROR_MORE_DATA on a
// link whose target is a few hundred characters long.
constexpr uint32_t kReparseBufferBytes = MAXIMUM_REPARSE_DATA_BUFFER_SIZE;

uint16_t Word(const uint8_t* data, uint32_t at) {
    uint16_t value;
    memcpy(&value, data + at, sizeof value);
    return value;
}

uint32_t Dword(const uint8_t* data, uint32_t at) {
    uint32_t value;
    memcpy(&value, data + at, sizeof value);
    return value;
}

void PutWord(uint8_t* data, uint32_t at, uint32_t value) {
    uint16_t word = static_cast<uint16_t>(value);
    memcpy(data + at, &word, sizeof word);
}

HANDLE OpenLink(const wchar_t* path) {
    return win.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool ReadReparseData(HANDLE handle, uint8_t* buffer, uint32_t capacity, uint32_t* bytes) {
    DWORD returned = 0;
    if (!win.DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer, capacity, &returned, nullptr)) {
        return false;
    }
    // A driver can only have filled what it was given.
    *bytes = returned < capacity ? returned : capacity;
    return true;
}

// A terminated heap copy of an unterminated, possibly unaligned name.
wchar_t* CopyName(const wchar_t* name, uint32_t chars, size_t room) {
    wchar_t* copy = static_cast<wchar_t*>(AllocZeroed((chars + room + 1) * sizeof(wchar_t)));
    memcpy(copy, name, chars * sizeof(wchar_t));
    return copy;
}

// A reparse point of tree 2 that an earlier run may have made: a symbolic link, or a junction that
// is no volume mount point. A mount point is a whole volume, and other tags are files that a file
// system filter keeps (deduplicated, compressed, cloud files): those hold data.
bool IsReplaceableLink(HANDLE entry) {
    ScopedBlock<uint8_t> buffer(static_cast<uint8_t*>(AllocZeroed(kReparseBufferBytes)));
    uint32_t bytes = 0;
    LinkData link;
    if (!ReadReparseData(entry, buffer.get(), kReparseBufferBytes, &bytes) ||
        !ParseLinkData(buffer.get(), bytes, &link)) {
        return false;
    }
    if (link.tag == IO_REPARSE_TAG_SYMLINK) return true;
    static const wchar_t kVolume[] = L"\\??\\Volume{";
    const uint32_t prefixChars = static_cast<uint32_t>(wcslen(kVolume));
    return !(link.substituteChars >= prefixChars &&
             memcmp(link.substitute, kVolume, prefixChars * sizeof(wchar_t)) == 0);
}

// A folder whose only entries are "." and "..", read to its end through its own handle. A few
// records at a time: the first other name decides.
bool IsEmptyFolder(HANDLE folder) {
    alignas(8) uint8_t records[4096];
    while (win.GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, records, sizeof records)) {
        for (uint32_t at = 0;;) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(records + at);
            uint32_t chars = record->FileNameLength / sizeof(wchar_t);
            const wchar_t* name = record->FileName;
            if (chars < 1 || chars > 2 || name[0] != L'.' || name[chars - 1] != L'.') return false;
            // An offset that leads out of the records ends this batch; the next call goes on.
            uint32_t next = record->NextEntryOffset;
            if (next == 0 || at + next + sizeof(FILE_ID_BOTH_DIR_INFO) > sizeof records) break;
            at += next;
        }
    }
    return win.GetLastError() == ERROR_NO_MORE_FILES;
}

// An entry of tree 2 that a link would hide or destroy: a file with content, a folder with
// entries or one that cannot be listed to its end, a reparse point that is no earlier link. An
// earlier link of that name, or an empty entry, may be replaced. Whatever cannot be looked at is
// kept. Asked of the handle the link is then written through: a name looked at before the write
// may by then be another entry.
bool HoldsData(HANDLE entry) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!win.GetFileInformationByHandle(entry, &info)) return true;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return !IsReplaceableLink(entry);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return !IsEmptyFolder(entry);
    return info.nFileSizeHigh != 0 || info.nFileSizeLow != 0;
}

// Where an entry of tree 2 really lies, as a handle of it proves.
enum class Place { kInTree2, kElsewhere, kUnknown };

// A handle that only tells where `path` leads: every link on the way followed.
HANDLE OpenToLocate(const wchar_t* path) {
    return win.CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The final path of what `handle` is, every link on the way resolved, into a path buffer; without
// trailing backslashes, so that a drive root ends like a folder. False when it cannot be told.
bool FinalPathOf(HANDLE handle, wchar_t* out) {
    DWORD chars = win.GetFinalPathNameByHandleW(handle, out, kPathChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (chars == 0) return false;
    if (chars >= static_cast<DWORD>(kPathChars)) {
        win.SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    while (chars > 0 && out[chars - 1] == L'\\') out[--chars] = 0;
    return true;
}

// Whether `handle` is what tree 2 holds at the first `chars` characters of `path`: its final path
// must be the final path of the tree-2 root (`root`) followed by the part of `path` below the
// root, compared as the file system compares names. The root may lead anywhere, the user chose it;
// a folder below it that is a link, whether the walk saw it or not, leads elsewhere. `error` tells
// why for kUnknown.
Place PlaceOf(const RunState& run, const wchar_t* root, HANDLE handle, const wchar_t* path, size_t chars,
              DWORD* error) {
    ScopedBlock<wchar_t> found(ScopedPathBuffer());
    if (!FinalPathOf(handle, found.get())) {
        *error = win.GetLastError();
        return Place::kUnknown;
    }
    size_t baseChars = wcslen(run.BaseFolder2);
    size_t rootChars = wcslen(root);
    if (chars < baseChars || wcsncmp(path, run.BaseFolder2, baseChars) != 0 ||
        rootChars + 1 + chars - baseChars >= static_cast<size_t>(kPathChars)) {
        *error = ERROR_BAD_PATHNAME;
        return Place::kUnknown;
    }
    const wchar_t* below = path + baseChars;
    while (below < path + chars && *below == L'\\') ++below;
    ScopedBlock<wchar_t> expected(ScopedPathBuffer());
    wchar_t* out = expected.get();
    wmemcpy(out, root, rootChars);
    out[rootChars] = L'\\';
    size_t end = rootChars + 1 + (path + chars - below);
    wmemcpy(out + rootChars + 1, below, end - rootChars - 1);
    while (end > 0 && out[end - 1] == L'\\') --end;
    out[end] = 0;
    return SameNameNoCase(out, found.get()) ? Place::kInTree2 : Place::kElsewhere;
}

// Where the folder of `path` lies, before anything is made in it; `root` receives the final path
// of the tree-2 root. A folder that the walk knows to be a link is not looked at again.
Place PlaceOfFolder(const RunState& run, const wchar_t* path, wchar_t* root, DWORD* error) {
    if (run.Tree2LinksOnPath != 0) return Place::kElsewhere;
    size_t folderChars = static_cast<size_t>(FileNamePart(path) - path);
    ScopedBlock<wchar_t> folder(DuplicateString(path));
    folder.get()[folderChars] = 0;
    ScopedHandle rootHandle(OpenToLocate(run.BaseFolder2));
    ScopedHandle folderHandle(rootHandle ? OpenToLocate(folder.get()) : INVALID_HANDLE_VALUE);
    if (!folderHandle || !FinalPathOf(rootHandle.get(), root)) {
        *error = win.GetLastError();
        return Place::kUnknown;
    }
    return PlaceOf(run, root, folderHandle.get(), path, folderChars, error);
}

// Says why a link is not written when its place is not proven to lie in tree 2.
bool LiesInTree2(Place place, DWORD error, const wchar_t* name, const char* kind) {
    if (place == Place::kElsewhere) {
        PrintErr("%S lies in a tree-2 folder that is a link: %s not reproduced\n", name, kind);
    } else if (place == Place::kUnknown) {
        PrintErr("error %u locating %s %S\n", error, kind, name);
    }
    return place == Place::kInTree2;
}

// The base folders without "\\?\": the form shared by both names of a link ("\??\D:\..." and
// "D:\...").
const wchar_t* BareBase(const wchar_t* base) { return SkipLongPathPrefix(base); }

// New reparse data of the link's own kind whose names point into tree 2 instead of tree 1, in
// the standard layout: substitute name at offset 0, print name behind it, each with a NUL.
// 0 when the names do not fit the largest reparse data the system takes.
uint32_t RepointLink(const LinkData& link, const RunState& run, uint8_t* out, uint32_t capacity) {
    ScopedBlock<wchar_t> owners[2] = {
        ScopedBlock<wchar_t>(CopyName(link.substitute, link.substituteChars, kPathChars - link.substituteChars - 1)),
        ScopedBlock<wchar_t>(CopyName(link.printName, link.printChars, kPathChars - link.printChars - 1))};
    wchar_t* names[2] = {owners[0].get(), owners[1].get()};
    for (wchar_t* name : names) ReplaceAllNoCase(name, BareBase(run.BaseFolder1), BareBase(run.BaseFolder2));
    uint32_t chars[2] = {static_cast<uint32_t>(wcslen(names[0])), static_cast<uint32_t>(wcslen(names[1]))};
    uint32_t namesAt = link.tag == IO_REPARSE_TAG_SYMLINK ? kSymlinkNamesAt : kJunctionNamesAt;
    uint64_t total = namesAt + (uint64_t{chars[0]} + 1 + chars[1] + 1) * sizeof(wchar_t);
    uint32_t length = 0;
    if (total <= capacity && total - kHeaderBytes <= 0xFFFF) {
        memset(out, 0, static_cast<size_t>(total));
        memcpy(out, &link.tag, sizeof link.tag);
        PutWord(out, 4, static_cast<uint32_t>(total - kHeaderBytes));
        PutWord(out, 8, 0);
        PutWord(out, 10, chars[0] * sizeof(wchar_t));
        PutWord(out, 12, (chars[0] + 1) * sizeof(wchar_t));
        PutWord(out, 14, chars[1] * sizeof(wchar_t));
        if (link.tag == IO_REPARSE_TAG_SYMLINK) memcpy(out + 16, &link.flags, sizeof link.flags);
        memcpy(out + namesAt, names[0], chars[0] * sizeof(wchar_t));
        memcpy(out + namesAt + (chars[0] + 1) * sizeof(wchar_t), names[1], chars[1] * sizeof(wchar_t));
        length = static_cast<uint32_t>(total);
    }
    return length;
}

wchar_t* LinkTargetOf(const LinkData& link) {
    wchar_t* target = CopyName(link.substitute, link.substituteChars, 0);
    // "\??\" is the system's own spelling of the long-path prefix.
    if (link.substituteChars > 4 && target[1] == L'?') target[1] = L'\\';
    return target;
}

bool DifferentDriveLetters(const wchar_t* path1, const wchar_t* path2) {
    wchar_t a = LinkDriveLetter(path1), b = LinkDriveLetter(path2);
    return a != 0 && b != 0 && (a & ~0x20) != (b & ~0x20);
}

// What goes into tree 2: the source's reparse data as read, or, for a link into tree 1 on another
// drive, the same link pointed into tree 2.
struct LinkToWrite {
    const uint8_t* data;
    uint32_t bytes;
    const char* kind;
};

// False for data we cannot take apart ourselves: that is not written into tree 2 either.
bool PrepareLink(const RunState& run, const wchar_t* path1, const wchar_t* path2, const uint8_t* data, uint32_t bytes,
                 LinkToWrite* out) {
    static uint8_t rebuilt[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
    *out = {data, bytes, "reparse point"};
    LinkData link;
    if (!ParseLinkData(data, bytes, &link)) return false;
    // The system takes exactly the header and the data it declares, which a reply may run past.
    out->bytes = kHeaderBytes + Word(data, 4);
    if (!DifferentDriveLetters(path1, path2)) return true;
    if (link.tag == IO_REPARSE_TAG_SYMLINK) out->kind = "symlink";
    if (link.substituteChars == 0) return false;
    ScopedBlock<wchar_t> target(LinkTargetOf(link));
    // Letter case does not tell folders apart: c:\data\t1 is C:\Data\T1.
    if (!win.StrStrIW(target.get(), run.BaseFolder1)) return true;
    out->bytes = RepointLink(link, run, rebuilt, sizeof rebuilt);
    out->data = rebuilt;
    return out->bytes != 0;
}

}  // namespace

bool ParseLinkData(const uint8_t* data, uint32_t bytes, LinkData* link) {
    if (bytes < kHeaderBytes) return false;
    link->tag = Dword(data, 0);
    uint32_t namesAt;
    if (link->tag == IO_REPARSE_TAG_MOUNT_POINT) {
        namesAt = kJunctionNamesAt;
    } else if (link->tag == IO_REPARSE_TAG_SYMLINK) {
        namesAt = kSymlinkNamesAt;
    } else {
        return false;
    }
    uint32_t end = kHeaderBytes + Word(data, 4);
    if (end > bytes || end < namesAt) return false;
    uint32_t nameBytes = end - namesAt;
    uint32_t fields[4] = {Word(data, 8), Word(data, 10), Word(data, 12), Word(data, 14)};
    for (int i = 0; i < 4; ++i) {
        if (fields[i] % 2 != 0) return false;
    }
    if (fields[0] + fields[1] > nameBytes || fields[2] + fields[3] > nameBytes) return false;
    link->flags = link->tag == IO_REPARSE_TAG_SYMLINK ? Dword(data, 16) : 0;
    link->substitute = reinterpret_cast<const wchar_t*>(data + namesAt + fields[0]);
    link->substituteChars = fields[1] / 2;
    link->printName = reinterpret_cast<const wchar_t*>(data + namesAt + fields[2]);
    link->printChars = fields[3] / 2;
    return true;
}

wchar_t LinkDriveLetter(const wchar_t* path) {
    bool prefixed = path[0] == L'\\' && (path[1] == L'?' || path[1] == L'\\') && path[2] == L'?' && path[3] == L'\\';
    if (prefixed && path[4] != 0 && path[5] == L':') return path[4];
    if (path[0] != 0 && path[1] == L':') return path[0];
    return 0;
}

wchar_t* ReadLinkTarget(const wchar_t* path) {
    ScopedHandle handle(OpenLink(path));
    if (!handle) return nullptr;
    ScopedBlock<uint8_t> buffer(static_cast<uint8_t*>(AllocZeroed(kReparseBufferBytes)));
    uint32_t bytes = 0;
    LinkData link;
    if (ReadReparseData(handle.get(), buffer.get(), kReparseBufferBytes, &bytes) &&
        ParseLinkData(buffer.get(), bytes, &link) && link.substituteChars != 0) {
        return LinkTargetOf(link);
    }
    return nullptr;
}

namespace {

// Sets the link on the entry's own handle, once its final path proves it lies where it belongs
// and it holds no data of its own.
bool WriteLinkOn(const RunState& run, const wchar_t* root, HANDLE target, const wchar_t* path2,
                 const LinkToWrite& link) {
    const wchar_t* name = FileNamePart(path2);
    DWORD error = ERROR_SUCCESS;
    Place place = PlaceOf(run, root, target, path2, wcslen(path2), &error);
    if (!LiesInTree2(place, error, name, link.kind)) return false;
    if (HoldsData(target)) {
        PrintErr("%S already holds data in tree 2: %s not reproduced\n", name, link.kind);
        return false;
    }
    DWORD returned = 0;
    if (win.DeviceIoControl(target, FSCTL_SET_REPARSE_POINT, const_cast<uint8_t*>(link.data), link.bytes, nullptr, 0,
                            &returned, nullptr)) {
        return true;
    }
    PrintErr("error %u creating %s %S\n", win.GetLastError(), link.kind, name);
    return false;
}

}  // namespace

bool ReplicateLink(const RunState& run, const wchar_t* path1, const wchar_t* path2, bool isFolder) {
    const wchar_t* name = FileNamePart(path2);
    ScopedHandle source(OpenLink(path1));
    if (!source) {
        PrintErr("error %u reading source %s %S\n", win.GetLastError(), "reparse point", name);
        return false;
    }
    FILETIME times[3];
    bool haveTimes = win.GetFileTime(source.get(), &times[0], &times[1], &times[2]) != 0;
    ScopedBlock<uint8_t> data(static_cast<uint8_t*>(AllocZeroed(kReparseBufferBytes)));
    uint32_t bytes = 0;
    if (!ReadReparseData(source.get(), data.get(), kReparseBufferBytes, &bytes)) {
        PrintErr("error %u reading source %s %S\n", win.GetLastError(), "reparse point", name);
        return false;
    }
    LinkToWrite link;
    if (!PrepareLink(run, path1, path2, data.get(), bytes, &link)) {
        PrintErr("%S cannot be pointed into tree 2: %s not reproduced\n", name, link.kind);
        return false;
    }
    // Nothing is made in tree 2 before the folder it goes into is proven to lie there.
    ScopedBlock<wchar_t> root(ScopedPathBuffer());
    DWORD error = ERROR_SUCCESS;
    if (!LiesInTree2(PlaceOfFolder(run, path2, root.get(), &error), error, name, link.kind)) return false;
    bool createdHere = false;
    if (isFolder) {
        createdHere = win.CreateDirectoryW(path2, nullptr) != 0;
        if (!createdHere && win.GetLastError() != ERROR_ALREADY_EXISTS) {
            PrintErr("error %u creating %s %S\n", win.GetLastError(), link.kind, name);
            return false;
        }
    }
    // One handle, that nobody else may open meanwhile, proves where the entry lies, tells what it
    // holds, takes the link, and takes away again what this call made for a link not written.
    ScopedHandle target(win.CreateFileW(path2, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                        isFolder ? OPEN_EXISTING : OPEN_ALWAYS,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    error = win.GetLastError();
    if (!target) {
        PrintErr("error %u creating %s %S\n", error, link.kind, name);
        // Only an empty folder goes by its name.
        if (createdHere) win.RemoveDirectoryW(path2);
        return false;
    }
    if (!isFolder) createdHere = error != ERROR_ALREADY_EXISTS;
    if (!WriteLinkOn(run, root.get(), target.get(), path2, link)) {
        // What this run made for the link goes again; what was there before stays.
        FILE_DISPOSITION_INFO gone = {TRUE};
        if (createdHere) win.SetFileInformationByHandle(target.get(), FileDispositionInfo, &gone, sizeof gone);
        return false;
    }
    if (haveTimes) win.SetFileTime(target.get(), &times[0], &times[1], &times[2]);
    target.reset();
    if (!Options.quiet) PrintOut("%S (%s)\n", name, link.kind);
    return true;
}
