// Random command lines: each argument is made with a known meaning, written in a random form
// (case, '-' or '/', quoting, separators), and the split and the option loop must recover it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "base/memory.h"
#include "base/types.h"
#include "support/output_capture.h"
#include "tree/exclude_masks.h"

namespace {

const wchar_t kSeparators[] = {0x0009, 0x000A, 0x000C, 0x000D, 0x0020, 0x00A0, 0x2009, 0x200A, 0x205F, 0x3000};

struct Expected {
    RunOptions options = kDefaultRunOptions;
    std::vector<std::wstring> masks;
    std::vector<std::wstring> paths;
    OptionLoopResult result = OptionLoopResult::Done;
    bool ended = false;  // a listing or a third path stops the reading
};

class Generator {
public:
    explicit Generator(uint32_t salt) : rng_(salt) {}

    int Below(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

    std::wstring RandomCase(std::wstring text) {
        for (wchar_t& c : text) {
            if (c >= L'a' && c <= L'z' && Below(2)) c = static_cast<wchar_t>(c - 32);
        }
        return text;
    }
    wchar_t Lead() { return Below(2) ? L'-' : L'/'; }

    std::wstring PathText() {
        static const wchar_t kChars[] = L"abcXYZ019.\\_ \u00e9\u4e2d\x000B\x3000\t";
        std::wstring text = Below(3) ? L"C:" : L"";
        int length = 1 + Below(Below(8) ? 12 : 300);
        for (int i = 0; i < length; ++i) text += kChars[Below(static_cast<int>(std::size(kChars)) - 1)];
        if (text[0] == L'-' || text[0] == L'/') text[0] = L'x';
        return text;
    }

    // One argument: its text, and what it must do to `e`.
    std::wstring Make(Expected& e) {
        switch (Below(9)) {
            case 0: {
                static const struct {
                    const wchar_t* name;
                    bool RunOptions::*flag;
                } kSwitches[] = {{L"q", &RunOptions::quiet},
                                 {L"s", &RunOptions::recurse},
                                 {L"p", &RunOptions::parseReparsePoints},
                                 {L"n", &RunOptions::noWait},
                                 {L"i", &RunOptions::ignoreSizes},
                                 {L"sz", &RunOptions::skipZero},
                                 {L"sz1", &RunOptions::skipZero1},
                                 {L"sz2", &RunOptions::skipZero2},
                                 {L"tq", &RunOptions::totallyQuiet}};
                const auto& s = kSwitches[Below(std::size(kSwitches))];
                if (!e.ended) {
                    e.options.*s.flag = true;
                    if (s.flag == &RunOptions::totallyQuiet) e.options.quiet = true;
                }
                return Lead() + RandomCase(s.name);
            }
            case 1: {
                int n = Below(4) ? Below(30) - 10 : Below(3000000);
                if (!e.ended) e.options.RetryCount = n + 1 < 1 ? 1 : n + 1 > 1000000 ? 1000000 : n + 1;
                return RandomCase(L"-r:") + std::to_wstring(n);
            }
            case 2: {
                static const struct {
                    const wchar_t* suffix;
                    uint64_t multiplier;
                } kSuffixes[] = {{L"", 1},         {L"k", 1000},       {L"Ki", 1024},       {L"m", 1000000},
                                 {L"MI", 1048576}, {L"g", 1000000000}, {L"Gi", 1073741824}, {L"tb", 1000000000000ull}};
                const auto& s = kSuffixes[Below(std::size(kSuffixes))];
                uint64_t n = static_cast<uint64_t>(Below(100000));
                bool first = Below(2);
                if (!e.ended) (first ? e.options.firstBytes : e.options.startOffset) = n * s.multiplier;
                return Lead() + RandomCase(first ? L"fi:" : L"st:") + std::to_wstring(n) + s.suffix;
            }
            case 3: {
                std::wstring mask = L"*." + std::to_wstring(Below(1000));
                if (!e.ended && e.masks.size() < kMaxExcludeMasks) e.masks.push_back(mask);
                return Lead() + RandomCase(L"e:") + mask;
            }
            case 4:
                if (Below(10) == 0) {
                    bool volumes = Below(2);
                    if (!e.ended) {
                        e.result = volumes ? OptionLoopResult::ListVolumes : OptionLoopResult::ListDisks;
                        e.ended = true;
                    }
                    return RandomCase(volumes ? L"-lv" : L"-ld");
                }
                [[fallthrough]];
            default: {
                std::wstring path = PathText();
                AddPath(e, path);
                return path;
            }
        }
    }

    void AddPath(Expected& e, const std::wstring& path) {
        if (e.ended) return;
        if (e.paths.size() == 2) {
            e.result = OptionLoopResult::TooManyPaths;
            e.ended = true;
            return;
        }
        e.paths.push_back(path);
    }

    // The argument as a user might type it: plain, quoted whole, or quoted in the middle.
    std::wstring Encode(const std::wstring& arg) {
        bool needsQuotes = arg.empty();
        for (wchar_t c : arg) needsQuotes |= IsCommandLineSpace(c);
        int form = needsQuotes ? 1 + Below(2) : Below(3);
        if (form == 0) return arg;
        size_t firstSeparator = 0;
        while (firstSeparator < arg.size() && !IsCommandLineSpace(arg[firstSeparator])) ++firstSeparator;
        size_t room = std::min(firstSeparator, arg.size() - 1);
        if (form == 1 || room == 0) return L"\"" + arg + L"\"";
        size_t cut = 1 + static_cast<size_t>(Below(static_cast<int>(room)));
        // Everything from the cut on is quoted, so any separator there is inside the quotes.
        return arg.substr(0, cut) + L"\"" + arg.substr(cut) + L"\"";
    }

    std::wstring Separators() {
        std::wstring s;
        for (int n = 1 + Below(3); n > 0; --n) s += kSeparators[Below(std::size(kSeparators))];
        return s;
    }

private:
    std::mt19937 rng_;
};

void ClearExcludeMasks() {
    for (wchar_t*& mask : ExcludeMasks) {
        FreeBlock(mask);
        mask = nullptr;
    }
}

TEST(CommandLineRandom, SplitAndOptionsRecoverWhatWasWritten) {
    Generator gen(20261208);
    static PathBuffer p1, p2;
    for (int round = 0; round < 3000; ++round) {
        Expected expected;
        std::vector<std::wstring> args = {L"qvb.exe"};
        std::wstring line = L"\"Z:\\bin\\qvb.exe\"";
        int wanted = gen.Below(40);
        // The first thirty arguments after the program count; the rest is ignored, so their
        // meaning must not reach the expectation.
        for (int i = 0; i < wanted; ++i) {
            Expected ignored;
            std::wstring arg = gen.Make(i < kMaxArguments - 1 ? expected : ignored);
            args.push_back(arg);
            line += gen.Separators() + gen.Encode(arg);
        }
        if (gen.Below(4) == 0) line += gen.Separators();
        SCOPED_TRACE(testing::Message() << "round " << round);

        int count = 0;
        wchar_t* slots[kArgumentSlots];
        wchar_t* buffer = SplitCommandLine(line.c_str(), &count, slots);
        size_t capacity = line.size() + 1;
        ASSERT_LE(count, kMaxArguments);
        ASSERT_EQ(count, std::min<int>(static_cast<int>(args.size()), kMaxArguments));
        EXPECT_EQ(slots[0], buffer);
        for (int i = 0; i < count; ++i) {
            ASSERT_GE(slots[i], buffer);
            ASSERT_LT(slots[i] + wcslen(slots[i]), buffer + capacity) << "argument " << i << " ends outside the buffer";
            if (i > 0) {
                ASSERT_EQ(std::wstring(slots[i]), args[static_cast<size_t>(i)]) << "argument " << i;
            }
        }
        for (int i = count; i < kArgumentSlots; ++i) ASSERT_EQ(slots[i], nullptr);

        p1[0] = p2[0] = 0;
        RunOptions options = kDefaultRunOptions;
        ClearExcludeMasks();
        OptionLoopResult result;
        {
            OutputCapture capture(false, false);
            result = RunOptionLoop(count, slots, &options, p1, p2);
        }
        EXPECT_EQ(result, expected.result);
        EXPECT_EQ(options.quiet, expected.options.quiet);
        EXPECT_EQ(options.totallyQuiet, expected.options.totallyQuiet);
        EXPECT_EQ(options.recurse, expected.options.recurse);
        EXPECT_EQ(options.parseReparsePoints, expected.options.parseReparsePoints);
        EXPECT_EQ(options.noWait, expected.options.noWait);
        EXPECT_EQ(options.ignoreSizes, expected.options.ignoreSizes);
        EXPECT_EQ(options.skipZero, expected.options.skipZero);
        EXPECT_EQ(options.skipZero1, expected.options.skipZero1);
        EXPECT_EQ(options.skipZero2, expected.options.skipZero2);
        EXPECT_EQ(options.firstBytes, expected.options.firstBytes);
        EXPECT_EQ(options.startOffset, expected.options.startOffset);
        EXPECT_EQ(options.RetryCount, expected.options.RetryCount);
        EXPECT_EQ(std::wstring(p1), expected.paths.size() > 0 ? expected.paths[0] : L"");
        EXPECT_EQ(std::wstring(p2), expected.paths.size() > 1 ? expected.paths[1] : L"");
        size_t masks = 0;
        while (masks < kMaxExcludeMasks && ExcludeMasks[masks]) ++masks;
        ASSERT_EQ(masks, expected.masks.size());
        for (size_t i = 0; i < masks; ++i) EXPECT_EQ(std::wstring(ExcludeMasks[i]), expected.masks[i]);
        FreeBlock(buffer);
        if (HasFailure()) break;
    }
    ClearExcludeMasks();
}

}  // namespace
