// Encrypted volumes of the two encryption drivers: the host (a container file or a
// partition) that holds the bytes of the volume mounted as a drive letter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/device_queries.h"

// The request both drivers answer with their mount list, in one buffer that is input and output.
constexpr DWORD kMountListControlCode = 0x222018;
constexpr size_t kMountListBytes = 17424;
constexpr size_t kMountListEntryChars = 260;
constexpr size_t kMountListEntriesOffset = 4;

// The host path of the encrypted volume mounted as `letter`, without a leading "\??\". Both
// drivers are asked, and the second one's answer wins. False, with `out` empty, when neither has
// the letter.
bool QueryEncryptedMountList(wchar_t letter, wchar_t* out, size_t capacity = kTopologyPathChars);

// For a path on an encrypted volume (by its drive letter or its volume GUID name): true with
// either the host path to resolve again in `out`, or, for a partition or drive host, `out` empty
// and the identity of that drive in `*identity`. False when the path is on no encrypted volume.
bool ResolveEncryptedVolumeHost(const wchar_t* path, wchar_t* out, int32_t* identity,
                                size_t capacity = kTopologyPathChars);
