// Matching a bare name against a mask of "*" and "?", as the file mask and the -e masks use it.
#pragma once

// True when the whole name matches the whole mask. "*" alone matches every name, the empty one
// too; otherwise an empty name or mask matches nothing. Letters match without regard to case.
bool WildcardMatch(const wchar_t* name, const wchar_t* mask);
