// The Win32 floor of a comparison: the calls that any program comparing the same data must make,
// and nothing else, so that the benchmark can tell what qvb.exe costs beyond them.
//   floor tree TREE1 TREE2 THREADS   every file of TREE1 (and its sub-folders) against TREE2: open
//                                    both, size both, read both whole, compare, close; THREADS
//                                    threads take folders one at a time
//   floor pair FILE1 FILE2           two files in 1 MiB blocks on one thread
// Opens and reads as qvb.exe does (unbuffered, sequential scan, into page-aligned buffers). Prints
// nothing but the count of files or blocks that differed; exit code 1 when any did.
#include <windows.h>

#include <atomic>
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && wcscmp(argv[1], L"tree") == 0) return Tree(argv[2], argv[3], _wtoi(argv[4]));
    if (argc == 4 && wcscmp(argv[1], L"pair") == 0) return Pair(argv[2], argv[3]);
    fprintf(stderr, "usage: floor tree TREE1 TREE2 THREADS | floor pair FILE1 FILE2\n");
    return 2;
}
