// Junctions and symbolic links, which Wine cannot hold: entries whose names begin with "lnk" carry
// the reparse attribute in every listing; in a path holding "tree1" they have the data of
// `LinkData`, read at the seam. What the program writes as link data into tree 2 lands in
// `Written`; an entry of tree 2 opened to be written shows the data of `Tree2Links` as a link.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fake_links {

extern std::map<std::wstring, std::vector<uint8_t>> LinkData;    // by name
extern std::map<std::wstring, std::vector<uint8_t>> Written;     // by tree-2 path
extern std::map<std::wstring, std::vector<uint8_t>> Tree2Links;  // by name

// Reparse data of `tag` with a substitute and a print name; `lengthDelta` spoils its data length.
std::vector<uint8_t> Raw(uint32_t tag, const std::wstring& sub, const std::wstring& print, int lengthDelta = 0);

// Forgets all links and writes, and puts the fake into the seam.
void Install();

}  // namespace fake_links
