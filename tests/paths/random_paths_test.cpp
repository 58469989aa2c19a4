// Paths of random forms and lengths up to the longest through every function that reads or
// writes a path buffer. Inputs end right before a page that may not be read, so a read past a
// terminator faults; outputs are followed by guard characters that must stay as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "paths/path_forms.h"
#include "paths/path_strings.h"
#include "paths/volume_roots.h"
#include "platform/windows.h"
#include "support/volume_scenario.h"

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kGuard = 16;
constexpr wchar_t kGuardChar = 0xFDFD;

class PageEndText {
public:
    explicit PageEndText(const std::wstring& text) {
        size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        size_t pages = (bytes + kPage - 1) / kPage;
        base_ = static_cast<char*>(VirtualAlloc(nullptr, (pages + 1) * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_ + pages * kPage, kPage, PAGE_NOACCESS, &old);
        text_ = reinterpret_cast<wchar_t*>(base_ + pages * kPage - bytes);
        memcpy(text_, text.c_str(), bytes);
    }
    ~PageEndText() { VirtualFree(base_, 0, MEM_RELEASE); }
    const wchar_t* get() const { return text_; }

private:
    char* base_;
    wchar_t* text_;
};

struct Guarded {
    explicit Guarded(size_t capacity) : capacity(capacity), chars(capacity + kGuard, kGuardChar) {}
    Guarded(size_t capacity, const std::wstring& text) : Guarded(capacity) {
        if (text.size() < capacity) wmemcpy(chars.data(), text.c_str(), text.size() + 1);
    }
    bool Intact() const {
        for (size_t i = capacity; i < chars.size(); ++i)
            if (chars[i] != kGuardChar) return false;
        return true;
    }
    bool Terminated() const { return wmemchr(chars.data(), 0, capacity) != nullptr; }
    wchar_t* data() { return chars.data(); }
    size_t capacity;
    std::vector<wchar_t> chars;
};

const wchar_t* const kHeads[] = {
    L"", L"D:\\", L"d:", L"S:\\", L"N:\\", L"T:", L"\\\\?\\D:\\", L"\\\\?\\S:\\", L"\\\\?\\", L"\\\\.\\",
    L"\\\\.\\PhysicalDrive", L"\\\\server\\share\\", L"\\\\?\\UNC\\server\\share\\",
    L"\\\\?\\Volume{5a3b0c1e-9d2f-4e6a-8b7c-0123456789ab}", L"\\??\\C:\\", L"\\", L"\\\\", L"\"D:\\",
};
const wchar_t kAlphabet[] = L"abcXYZ09\\\\\\\\::*?.\" {}-~\u00e9\u00c9";

std::wstring RandomPath(std::mt19937& rng) {
    size_t length;
    switch (rng() % 4) {
        case 0: length = rng() % 9; break;
        case 1: length = rng() % 400; break;
        case 2: length = rng() % kPathChars; break;
        default: length = kPathChars - 1 - rng() % 8; break;
    }
    std::wstring path = kHeads[rng() % std::size(kHeads)];
    while (path.size() < length) path += kAlphabet[rng() % (std::size(kAlphabet) - 1)];
    path.resize(length);
    return path;
}

// Answers that QueryDosDeviceW may give, long ones and malformed ones included.
std::wstring RandomTarget(std::mt19937& rng) {
    const wchar_t* const kTargets[] = {
        L"\\??\\E:\\Data", L"\\??\\C:\\", L"\\??\\UNC\\server\\share", L"\\Device\\HarddiskVolume3",
        L"\\Device\\LanmanRedirector\\;N:0000000000034a1f\\server\\share", L"\\Device\\LanmanRedirector\\;",
        L"\\Device\\NetWareRedirector\\N:00\\s\\v", L"\\Device\\VBoxMiniRdr\\;N:\\vboxsvr\\share", L"\\??\\",
    };
    std::wstring target = kTargets[rng() % std::size(kTargets)];
    if (rng() % 3 == 0) target += std::wstring(rng() % (kDosDeviceChars - target.size() - 1), L'x');
    return target;
}

size_t RandomCapacity(std::mt19937& rng, size_t length) {
    const size_t choices[] = {1, 3, 4, 5, length + 1, length + 2, length + 4, length + 5, kPathChars};
    return choices[rng() % std::size(choices)];
}

void CheckReaders(const std::wstring& source, std::mt19937& rng) {
    PageEndText text(source);
    const wchar_t* p = text.get();
    size_t n = source.size();
    EXPECT_EQ(SkipLongPathPrefix(p), HasLongPathPrefix(p) ? p + 4 : p);
    const wchar_t* name = FileNamePart(p);
    ASSERT_TRUE(name >= p && name <= p + n);
    EXPECT_EQ(wcschr(name, L'\\'), nullptr);
    if (IsDevicePath(p)) {
        EXPECT_TRUE(source.rfind(L"\\\\.\\", 0) == 0 || source.rfind(L"\\\\?\\", 0) == 0);
    }
    if (HasWildcards(p)) {
        EXPECT_NE(wcspbrk(SkipLongPathPrefix(p), L"*?"), nullptr);
    }
    if (HasStreamName(p)) {
        EXPECT_NE(wcschr(p, L':'), nullptr);
    }
    IsUncPath(p);
    if (n > 0) {
        size_t k = 1 + rng() % (n < 300 ? n : 300);
        PageEndText head(source.substr(0, k));
        PageEndText tail(source.substr(n - k));
        EXPECT_EQ(StartsWithNoCase(p, head.get()), p);
        EXPECT_EQ(EndsWithNoCase(p, tail.get()), p + n - k);
        EXPECT_EQ(StartsWithNoCase(head.get(), p), k == n ? head.get() : nullptr);
    }
    SourceFileExists(p);
}

void CheckWriters(const std::wstring& source, std::mt19937& rng) {
    size_t n = source.size();
    PageEndText input(source);
    {
        Guarded path(RandomCapacity(rng, n), source);
        if (n < path.capacity) {
            bool endsWith = n > 0 && source.back() == L'\\';
            EXPECT_EQ(AppendCharIfMissing(path.data(), L'\\', path.capacity), endsWith || n + 2 <= path.capacity);
            EXPECT_TRUE(path.Intact());
        }
    }
    {
        Guarded path(n + 1, source);
        RemoveTrailingChar(path.data(), L'\\');
        EXPECT_TRUE(path.Intact());
        VolumeGuidToDevicePath(path.data());
        EXPECT_TRUE(path.Intact());
    }
    {
        Guarded path(RandomCapacity(rng, n), source);
        if (n < path.capacity) {
            bool ok = AddLongPathPrefix(path.data(), path.capacity);
            std::wstring after = path.data();
            EXPECT_TRUE(after == source || (ok && after == L"\\\\?\\" + source));
            EXPECT_TRUE(path.Intact());
        }
    }
    {
        Guarded folder(RandomCapacity(rng, n)), mask(RandomCapacity(rng, n));
        bool ok = SplitFolderAndMask(input.get(), folder.data(), mask.data(), folder.capacity, mask.capacity);
        EXPECT_TRUE(folder.Intact() && mask.Intact());
        if (ok) {
            EXPECT_TRUE(folder.Terminated() && mask.Terminated());
        }
        if (!ok) {
            EXPECT_TRUE(folder.chars[0] == kGuardChar && mask.chars[0] == kGuardChar);
        }
    }
    Guarded resolved(RandomCapacity(rng, n));
    bool ok = ResolveDrivePath(input.get(), resolved.data(), resolved.capacity);
    EXPECT_TRUE(resolved.Intact());
    EXPECT_TRUE(resolved.Terminated());
    if (!ok) {
        EXPECT_EQ(resolved.chars[0], 0);
    }
    Guarded root(RandomCapacity(rng, 8));
    if (VolumeRootOf(ok ? resolved.data() : input.get(), root.data(), root.capacity)) {
        EXPECT_TRUE(root.Terminated());
    }
    EXPECT_TRUE(root.Intact());
}

TEST(RandomPaths, NoFunctionReadsOrWritesBeyondItsBuffer) {
    const unsigned salt = 20260312;
    std::mt19937 rng(salt);
    VolumeScenario scenario;
    scenario.attributes = {{L"D:\\", 0x10}, {L"N:\\", 0x10}, {L"S:\\", 0x10}};
    scenario.driveTypes = {{L"N:\\", DRIVE_REMOTE}};
    scenario.volumes = {{L"D:\\", 0}, {L"E:\\", 0}, {L"\\\\server\\share\\", 0}, {L"\\\\?\\D:\\", 0}};
    scenario.devices = {L"\\\\.\\PhysicalDrive0"};
    ScenarioGuard guard(scenario);
    // Every form cut short at each length first: the cases where a function looks one
    // character too far.
    for (const wchar_t* head : kHeads) {
        std::wstring full = std::wstring(head) + L"x:y\\z";
        for (size_t length = 0; length <= full.size(); ++length) {
            SCOPED_TRACE(::testing::Message() << "form " << head << ", length " << length);
            CheckReaders(full.substr(0, length), rng);
            CheckWriters(full.substr(0, length), rng);
        }
    }
    for (int i = 0; i < 300; ++i) {
        for (const wchar_t* letter : {L"S:", L"N:", L"T:", L"d:", L"D:"}) scenario.dosDevices[letter] = RandomTarget(rng);
        scenario.dosDevicesFillBuffer = rng() % 4 == 0;
        std::wstring source = RandomPath(rng);
        SCOPED_TRACE(::testing::Message() << "salt " << salt << ", path " << i << ", length " << source.size());
        CheckReaders(source, rng);
        CheckWriters(source, rng);
        if (HasFailure()) break;
    }
}

}  // namespace
