// The Win32 floor of a comparison: the calls that any program comparing the same data must make,
// and nothing else, so that the benchmark can tell what qvb.exe costs beyond them.
//   floor tree TREE1 TREE2 THREADS   every file of TREE1 (and its sub-folders) against TREE2: open
//                                    both, size both, read both whole, compare, close; THREADS
//                                    threads take folders one at a time
//   floor pair FILE1 FILE2           two files in 1 MiB blocks on one thread
//   floor pair FILE1 FILE2 K         the same with K reads in flight per side: K threads a side
//                                    read blocks at their offsets, compared in order
//   floor read FILE1 FILE2           FILE1 read whole, then FILE2, in 1 MiB blocks, nothing
//                                    compared: the least a disk holding both must do
//   floor type PATH                  the drive type of the volume that holds PATH (4: remote)
// Opens and reads as qvb.exe does (unbuffered, sequential scan, into page-aligned buffers). Prints
// nothing but the count of files or blocks that differed (read: the bytes read; type: the type);
// exit code 1 when any differed.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBlock = 1048576;
constexpr DWORD kFlags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
}

uint8_t* Buffer() {
    return static_cast<uint8_t*>(VirtualAlloc(nullptr, kBlock, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

// Whole sectors: unbuffered reads take nothing else.
DWORD RoundUp(DWORD value) { return (value + 4095) & ~DWORD{4095}; }

bool SameFiles(const std::wstring& a, const std::wstring& b, uint8_t* buffer1, uint8_t* buffer2) {
    HANDLE h1 = Open(a), h2 = Open(b);
    bool same = h1 != INVALID_HANDLE_VALUE && h2 != INVALID_HANDLE_VALUE;
    if (same) {
        LARGE_INTEGER size1, size2;
        same = GetFileSizeEx(h1, &size1) && GetFileSizeEx(h2, &size2) && size1.QuadPart == size2.QuadPart;
        for (LONGLONG left = size1.QuadPart; same && left > 0; left -= kBlock) {
            DWORD want = left < kBlock ? RoundUp(static_cast<DWORD>(left)) : kBlock, got1 = 0, got2 = 0;
            same = ReadFile(h1, buffer1, want, &got1, nullptr) && ReadFile(h2, buffer2, want, &got2, nullptr) &&
                   got1 == got2 && memcmp(buffer1, buffer2, got1) == 0;
        }
    }
    if (h1 != INVALID_HANDLE_VALUE) CloseHandle(h1);
    if (h2 != INVALID_HANDLE_VALUE) CloseHandle(h2);
    return same;
}

// The folders of the tree (relative paths, "" for the root), listed before the comparison starts.
void ListFolders(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>* folders) {
    folders->push_back(relative);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((root + relative + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && wcscmp(entry.cFileName, L".") != 0 &&
            wcscmp(entry.cFileName, L"..") != 0) {
            ListFolders(root, relative + L"\\" + entry.cFileName, folders);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

struct TreeWork {
    std::wstring root1, root2;
    std::vector<std::wstring> folders;
    std::atomic<size_t> next{0};
    std::atomic<long> differing{0};
};

DWORD WINAPI CompareFolders(LPVOID parameter) {
    auto* work = static_cast<TreeWork*>(parameter);
    uint8_t* buffer1 = Buffer();
    uint8_t* buffer2 = Buffer();
    for (size_t i; (i = work->next.fetch_add(1)) < work->folders.size();) {
        const std::wstring& folder = work->folders[i];
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((work->root1 + folder + L"\\*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::wstring name = folder + L"\\" + entry.cFileName;
            if (!SameFiles(work->root1 + name, work->root2 + name, buffer1, buffer2)) ++work->differing;
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    VirtualFree(buffer1, 0, MEM_RELEASE);
    VirtualFree(buffer2, 0, MEM_RELEASE);
    return 0;
}

int Tree(const wchar_t* root1, const wchar_t* root2, int threads) {
    TreeWork work;
    work.root1 = root1;
    work.root2 = root2;
    ListFolders(work.root1, L"", &work.folders);
    std::vector<HANDLE> running;
    for (int t = 1; t < threads; ++t) running.push_back(CreateThread(nullptr, 0, CompareFolders, &work, 0, nullptr));
    CompareFolders(&work);
    for (HANDLE thread : running) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    printf("%ld\n", work.differing.load());
    return work.differing.load() != 0;
}

int Pair(const wchar_t* file1, const wchar_t* file2) {
    uint8_t* buffer1 = Buffer();
    uint8_t* buffer2 = Buffer();
    bool same = SameFiles(file1, file2, buffer1, buffer2);
    printf("%d\n", same ? 0 : 1);
    return same ? 0 : 1;
}

// K reads in flight per side: each side's reader threads take the next block, read it at its
// offset into the block's place in a ring, and the main thread compares the blocks in order as
// they arrive. A medium that answers each request after a delay (a share) then has K requests
// waiting on it instead of one.
struct InFlight {
    int ring = 0;  // places a side, twice the reads in flight so that readers run ahead of the compare
    LONGLONG size = 0;
    LONGLONG blocks = 0;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE arrived = CONDITION_VARIABLE_INIT;  // a block was read
    CONDITION_VARIABLE freed = CONDITION_VARIABLE_INIT;    // a block was compared, its place is free
    LONGLONG compared = 0;
    bool stop = false;
    struct Side {
        const wchar_t* path = nullptr;
        std::atomic<LONGLONG> next{0};
        std::vector<uint8_t*> buffers;
        std::vector<LONGLONG> block;  // which block each place holds, -1 while none
        std::vector<DWORD> got;
        std::vector<char> read;
    } sides[2];
};

struct Reader {
    InFlight* work;
    InFlight::Side* side;
};

DWORD WINAPI ReadBlocks(LPVOID parameter) {
    auto* reader = static_cast<Reader*>(parameter);
    InFlight& work = *reader->work;
    InFlight::Side& side = *reader->side;
    // A handle of its own: Windows serializes the calls on one synchronous handle, so readers
    // sharing one would not overlap there.
    HANDLE file = Open(side.path);
    for (LONGLONG b; (b = side.next.fetch_add(1)) < work.blocks;) {
        AcquireSRWLockExclusive(&work.lock);
        while (!work.stop && b >= work.compared + work.ring) SleepConditionVariableSRW(&work.freed, &work.lock, INFINITE, 0);
        bool stop = work.stop;
        ReleaseSRWLockExclusive(&work.lock);
        if (stop) break;
        size_t place = static_cast<size_t>(b % work.ring);
        LONGLONG offset = b * kBlock, left = work.size - offset;
        DWORD want = left < kBlock ? RoundUp(static_cast<DWORD>(left)) : kBlock, got = 0;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        bool read = file != INVALID_HANDLE_VALUE && ReadFile(file, side.buffers[place], want, &got, &at);
        AcquireSRWLockExclusive(&work.lock);
        side.got[place] = got;
        side.read[place] = read;
        side.block[place] = b;
        ReleaseSRWLockExclusive(&work.lock);
        WakeAllConditionVariable(&work.arrived);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 0;
}

int PairInFlight(const wchar_t* file1, const wchar_t* file2, int inFlight) {
    InFlight work;
    work.ring = 2 * inFlight;
    work.sides[0].path = file1;
    work.sides[1].path = file2;
    LARGE_INTEGER size1 = {}, size2 = {};
    HANDLE h1 = Open(file1), h2 = Open(file2);
    bool same = h1 != INVALID_HANDLE_VALUE && h2 != INVALID_HANDLE_VALUE && GetFileSizeEx(h1, &size1) &&
                GetFileSizeEx(h2, &size2) && size1.QuadPart == size2.QuadPart;
    if (h1 != INVALID_HANDLE_VALUE) CloseHandle(h1);
    if (h2 != INVALID_HANDLE_VALUE) CloseHandle(h2);
    if (!same) {
        printf("1\n");
        return 1;
    }
    work.size = size1.QuadPart;
    work.blocks = (work.size + kBlock - 1) / kBlock;
    for (InFlight::Side& side : work.sides) {
        for (int i = 0; i < work.ring; ++i) side.buffers.push_back(Buffer());
        side.block.assign(work.ring, -1);
        side.got.assign(work.ring, 0);
        side.read.assign(work.ring, 0);
    }
    std::vector<Reader> readers;
    for (InFlight::Side& side : work.sides) {
        for (int k = 0; k < inFlight; ++k) readers.push_back({&work, &side});
    }
    std::vector<HANDLE> running;
    for (Reader& reader : readers) running.push_back(CreateThread(nullptr, 0, ReadBlocks, &reader, 0, nullptr));
    for (LONGLONG b = 0; same && b < work.blocks; ++b) {
        size_t place = static_cast<size_t>(b % work.ring);
        InFlight::Side &one = work.sides[0], &two = work.sides[1];
        AcquireSRWLockExclusive(&work.lock);
        while (one.block[place] != b || two.block[place] != b) {
            SleepConditionVariableSRW(&work.arrived, &work.lock, INFINITE, 0);
        }
        ReleaseSRWLockExclusive(&work.lock);
        same = one.read[place] && two.read[place] && one.got[place] == two.got[place] &&
               memcmp(one.buffers[place], two.buffers[place], one.got[place]) == 0;
        AcquireSRWLockExclusive(&work.lock);
        work.compared = b + 1;
        work.stop = !same;
        ReleaseSRWLockExclusive(&work.lock);
        WakeAllConditionVariable(&work.freed);
    }
    for (HANDLE thread : running) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    printf("%d\n", same ? 0 : 1);
    return same ? 0 : 1;
}

// One file whole, then the other: on a disk that holds both, every byte passes the head once and
// the head moves once, which no comparison can undercut.
int ReadOneThenOther(const wchar_t* file1, const wchar_t* file2) {
    uint8_t* buffer = Buffer();
    LONGLONG total = 0;
    bool read = true;
    for (const wchar_t* path : {file1, file2}) {
        HANDLE file = Open(path);
        if (file == INVALID_HANDLE_VALUE) {
            read = false;
            continue;
        }
        for (DWORD got = kBlock; got == kBlock;) {
            got = 0;
            if (!ReadFile(file, buffer, kBlock, &got, nullptr)) {
                read = false;
                break;
            }
            total += got;
        }
        CloseHandle(file);
    }
    printf("%lld\n", total);
    return read ? 0 : 1;
}

int DriveType(const wchar_t* path) {
    wchar_t root[MAX_PATH] = {};
    if (!GetVolumePathNameW(path, root, MAX_PATH)) wcsncpy(root, path, 3);
    UINT type = GetDriveTypeW(root);
    printf("%u\n", type);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && wcscmp(argv[1], L"tree") == 0) return Tree(argv[2], argv[3], _wtoi(argv[4]));
    if (argc == 4 && wcscmp(argv[1], L"pair") == 0) return Pair(argv[2], argv[3]);
    if (argc == 5 && wcscmp(argv[1], L"pair") == 0 && _wtoi(argv[4]) > 0) {
        return PairInFlight(argv[2], argv[3], _wtoi(argv[4]));
    }
    if (argc == 4 && wcscmp(argv[1], L"read") == 0) return ReadOneThenOther(argv[2], argv[3]);
    if (argc == 3 && wcscmp(argv[1], L"type") == 0) return DriveType(argv[2]);
    fprintf(stderr,
            "usage: floor tree TREE1 TREE2 THREADS | floor pair FILE1 FILE2 [K] | floor read FILE1 FILE2 |"
            " floor type PATH\n");
    return 2;
}
