// qvb.exe with Windows' own rules under the seam, for the end-to-end and real-fault tests. The
// program's own main is built as QvbMain; a run that breaks a rule, or ends with a handle of its
// own still open, says so on standard error and ends with exit code 70.
#undef main

#include <string>
#include <vector>

#include "platform/win_api.h"
#include "support/strict_seam.h"

int QvbMain();

namespace {

constexpr UINT kExitBrokeARule = 70;

void WriteError(const std::string& text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

VOID WINAPI ExitReporting(UINT code) {
    std::vector<std::string> abandoned;
    std::vector<std::string> problems = strict::TakeViolations();
    for (const std::string& leak : strict::Leaks(&abandoned)) problems.push_back("handle " + leak);
    for (const std::string& problem : problems) WriteError("strict: Windows refuses " + problem + "\n");
    for (const std::string& handle : abandoned) WriteError("strict: handle " + handle + "\n");
    ::ExitProcess(problems.empty() ? code : kExitBrokeARule);
}

// A run that its deadline after a stop ends: what it still holds belongs to threads held in calls,
// so only the rules it broke are told.
BOOL WINAPI TerminateReporting(HANDLE process, UINT code) {
    std::vector<std::string> problems = strict::TakeViolations();
    for (const std::string& problem : problems) WriteError("strict: Windows refuses " + problem + "\n");
    return ::TerminateProcess(process, problems.empty() ? code : kExitBrokeARule);
}

}  // namespace

int main() {
    strict::Install();
    strict::MarkHandles();
    WinApi base = SeamBase();
    base.ExitProcess = &ExitReporting;
    base.TerminateProcess = &TerminateReporting;
    SetSeamBase(base);
    return QvbMain();
}
