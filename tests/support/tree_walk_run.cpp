#include "support/tree_walk_run.h"

#include <cwchar>

#include "base/types.h"
#include "support/output_capture.h"
#include "support/pair_setup.h"
#include "tree/tree_walk.h"

WalkResult Walk(const std::wstring& tree1, const std::wstring& tree2, const wchar_t* mask) {
    static PathBuffer folder1, folder2;
    wcscpy(folder1, (L"\\\\?\\" + tree1 + L"\\").c_str());
    wcscpy(folder2, (L"\\\\?\\" + tree2 + L"\\").c_str());
    wcscpy(TestRun().BaseFolder1, folder1);
    wcscpy(TestRun().BaseFolder2, folder2);
    TestRun().counts = RunCounters{};
    TestRun().setup.FolderRun = true;
    OutputCapture capture(false, false);
    WalkResult r;
    r.count = CompareFolderTree(&TestRun(), folder1, mask, folder2, 0);
    r.out = capture.streams.outBytes;
    r.err = capture.streams.errBytes;
    return r;
}
