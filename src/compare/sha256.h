// SHA-256 sums of compared data, from Windows' own implementation in bcrypt.dll (CNG), which every
// Windows from 7 on has and which uses the processor's SHA instructions where there are any.
//
// One Sha256 sums one stream of bytes at a time, on one thread: Start, Add as the bytes come,
// Finish. The hash object lives inside the structure, so that a sum costs no heap block; the
// structure must therefore stay where it is between Start and Finish (or Drop). Every failure is
// a false return with the thread's last error set, and ends the sum: the next Add or Finish fails
// too, until the next Start.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// Bytes of the hash object kept in the structure: more than any Windows has asked for SHA-256.
// Where the system asks more, the object is left to the system to allocate.
constexpr uint32_t kSha256ObjectBytes = 512;

struct Sha256 {
    BCRYPT_HASH_HANDLE hash;  // null before Start and after Finish, Drop or a failure
    alignas(16) uint8_t object[kSha256ObjectBytes];
};

// Begins a new sum, dropping any sum in progress. A zero-filled structure is ready for it.
// Opens the algorithm for the process on its first use.
bool Sha256Start(Sha256* sum);

// Adds `count` bytes; 0 bytes add nothing and succeed.
bool Sha256Add(Sha256* sum, const uint8_t* bytes, uint32_t count);

// The digest of every byte added since Start. Ends the sum either way.
bool Sha256Finish(Sha256* sum, uint8_t digest[32]);

// Ends a sum in progress without a digest; safe on a sum that is not in progress.
void Sha256Drop(Sha256* sum);

// The digest as 64 lowercase hexadecimal digits and a terminator.
void Sha256Hex(const uint8_t digest[32], char hex[65]);

// Closes the algorithm opened for the process, at the end of a run, once no sum is in progress.
// A later Start opens it again.
void ReleaseSha256();
