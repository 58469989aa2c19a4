// Runs the folder walk as the folder run does: long-path roots, the base folders set, counters
// zeroed, standard output and error caught at the seam.
#pragma once

#include <cstdint>
#include <string>

struct WalkResult {
    uint32_t count;
    std::string out;
    std::string err;
};

WalkResult Walk(const std::wstring& tree1, const std::wstring& tree2, const wchar_t* mask = L"*");
