#include "support/fake_links.h"

#include <cstring>
#include <mutex>

#include "platform/win_api.h"
#include "support/strict_seam.h"

namespace fake_links {

std::map<std::wstring, std::vector<uint8_t>> LinkData;
std::map<std::wstring, std::vector<uint8_t>> Written;
std::map<std::wstring, std::vector<uint8_t>> Tree2Links;

namespace {

std::map<HANDLE, std::wstring> OpenedForWrite;  // workers close handles beside the walk
std::mutex lock;
const uintptr_t kFakeBase = 0x5000;

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

void MarkLinks(LPWIN32_FIND_DATAW d) {
    if (wcsncmp(d->cFileName, L"lnk", 3) == 0) d->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}

HANDLE WINAPI FindFirst(LPCWSTR p, LPWIN32_FIND_DATAW d) {
    HANDLE h = SeamBase().FindFirstFileW(p, d);
    if (h != INVALID_HANDLE_VALUE) MarkLinks(d);
    return h;
}

HANDLE WINAPI FindFirstEx(LPCWSTR p, FINDEX_INFO_LEVELS l, LPVOID d, FINDEX_SEARCH_OPS o, LPVOID f, DWORD x) {
    HANDLE h = SeamBase().FindFirstFileExW(p, l, d, o, f, x);
    if (h != INVALID_HANDLE_VALUE) MarkLinks(static_cast<LPWIN32_FIND_DATAW>(d));
    return h;
}

BOOL WINAPI FindNext(HANDLE h, LPWIN32_FIND_DATAW d) {
    BOOL ok = SeamBase().FindNextFileW(h, d);
    if (ok) MarkLinks(d);
    return ok;
}

HANDLE WINAPI Open(LPCWSTR p, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disp, DWORD flags, HANDLE t) {
    std::wstring path = p, name = NameOf(path);
    bool reparse = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (reparse && access == GENERIC_READ && path.find(L"tree1") != std::wstring::npos) {
        auto it = LinkData.find(name);
        if (it == LinkData.end()) return SeamBase().CreateFileW(p, access, share, sa, disp, flags, t);
        return reinterpret_cast<HANDLE>(kFakeBase + std::distance(LinkData.begin(), it));
    }
    HANDLE h = SeamBase().CreateFileW(p, access, share, sa, disp, flags, t);
    std::lock_guard<std::mutex> hold(lock);
    if (reparse && (access & GENERIC_WRITE) && h != INVALID_HANDLE_VALUE) OpenedForWrite[h] = path;
    return h;
}

// The link of `Tree2Links` that the tree-2 entry open as `h` is, or null.
const std::vector<uint8_t>* Tree2Link(HANDLE h) {
    std::lock_guard<std::mutex> hold(lock);
    auto opened = OpenedForWrite.find(h);
    auto link = opened == OpenedForWrite.end() ? Tree2Links.end() : Tree2Links.find(NameOf(opened->second));
    return link == Tree2Links.end() ? nullptr : &link->second;
}

BOOL WINAPI Information(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
    BOOL ok = SeamBase().GetFileInformationByHandle(h, info);
    if (ok && Tree2Link(h)) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return ok;
}

bool IsFake(HANDLE h) {
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    return v >= kFakeBase && v < kFakeBase + 64;
}

BOOL WINAPI Ioctl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                  LPOVERLAPPED) {
    auto* link = IsFake(h) ? &std::next(LinkData.begin(), uintptr_t(h) - kFakeBase)->second : Tree2Link(h);
    if (!strict::ControlBuffersFit(code, in, inSize, outSize)) return FALSE;
    if (code == FSCTL_GET_REPARSE_POINT && link) {
        // Past its header, a buffer too small gets the part that fits.
        if (link->size() > outSize) {
            memcpy(out, link->data(), outSize);
            *returned = outSize;
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        memcpy(out, link->data(), link->size());
        *returned = DWORD(link->size());
        return TRUE;
    }
    std::lock_guard<std::mutex> hold(lock);
    if (code == FSCTL_SET_REPARSE_POINT && OpenedForWrite.count(h)) {
        const uint8_t* bytes = static_cast<const uint8_t*>(in);
        Written[OpenedForWrite[h]] = std::vector<uint8_t>(bytes, bytes + inSize);
        return TRUE;
    }
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI Close(HANDLE h) {
    std::lock_guard<std::mutex> hold(lock);
    OpenedForWrite.erase(h);
    return IsFake(h) ? TRUE : SeamBase().CloseHandle(h);
}

BOOL WINAPI Times(HANDLE h, LPFILETIME a, LPFILETIME b, LPFILETIME c) {
    if (!IsFake(h)) return SeamBase().GetFileTime(h, a, b, c);
    FILETIME t{0x12345678, 0x01D00000};
    *a = *b = *c = t;
    return TRUE;
}

}  // namespace

std::vector<uint8_t> Raw(uint32_t tag, const std::wstring& sub, const std::wstring& print, int lengthDelta) {
    uint32_t at = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
    std::vector<uint8_t> d(at + (sub.size() + print.size() + 2) * 2, 0);
    uint16_t f[4] = {0, uint16_t(sub.size() * 2), uint16_t((sub.size() + 1) * 2), uint16_t(print.size() * 2)};
    uint16_t length = uint16_t(int(d.size()) - 8 + lengthDelta);
    memcpy(&d[0], &tag, 4);
    memcpy(&d[4], &length, 2);
    memcpy(&d[8], f, 8);
    memcpy(&d[at], sub.data(), sub.size() * 2);
    memcpy(&d[at + (sub.size() + 1) * 2], print.data(), print.size() * 2);
    return d;
}

void Install() {
    LinkData.clear();
    Written.clear();
    Tree2Links.clear();
    OpenedForWrite.clear();
    win.FindFirstFileW = FindFirst;
    win.FindFirstFileExW = FindFirstEx;
    win.GetFileInformationByHandle = Information;
    win.FindNextFileW = FindNext;
    win.CreateFileW = Open;
    win.DeviceIoControl = Ioctl;
    win.CloseHandle = Close;
    win.GetFileTime = Times;
}

}  // namespace fake_links
