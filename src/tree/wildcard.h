// Matching a bare name against a mask of "*" and "?", as the file mask and the -e masks use it.
#pragma once

// True when the whole name matches the whole mask. "*" and "*.*" match every name, the empty one
// too; otherwise an empty name or mask matches nothing. A mask ending in ".*" also matches the
// name without that end. Letters match without regard to case, as the file system folds it.
bool WildcardMatch(const wchar_t* name, const wchar_t* mask);
