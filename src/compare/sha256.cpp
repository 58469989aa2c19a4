#include "compare/sha256.h"

#include "platform/win_api.h"

namespace {

// The algorithm is opened once for the process: opening it costs more than the sum of a small file.
// Threads that sum pairs at once may all come to open it, hence the lock.
SRWLOCK algorithmLock = SRWLOCK_INIT;
BCRYPT_ALG_HANDLE algorithm = nullptr;
ULONG objectBytes = 0;  // what one hash object of it takes

constexpr NTSTATUS kStatusInvalidHandle = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kStatusNoMemory = static_cast<NTSTATUS>(0xC0000017);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);
constexpr NTSTATUS kStatusNotFound = static_cast<NTSTATUS>(0xC0000225);

// bcrypt.dll answers with a status and leaves the last error alone; the program's callers name
// Windows errors, so the status becomes the nearest one.
bool Failed(NTSTATUS status) {
    DWORD error = status == kStatusNoMemory           ? ERROR_NOT_ENOUGH_MEMORY
                  : status == kStatusInvalidHandle    ? ERROR_INVALID_HANDLE
                  : status == kStatusInvalidParameter ? ERROR_INVALID_PARAMETER
                  : status == kStatusBufferTooSmall   ? ERROR_INSUFFICIENT_BUFFER
                  : status == kStatusNotFound         ? ERROR_NOT_FOUND
                                                      : ERROR_INTERNAL_ERROR;
    win.SetLastError(error);
    return false;
}

// Opens the algorithm unless it is open, and tells what a hash object takes. A size that cannot be
// learnt leaves the object to the system.
bool OpenAlgorithm(BCRYPT_ALG_HANDLE* opened, ULONG* bytes) {
    win.AcquireSRWLockExclusive(&algorithmLock);
    NTSTATUS status = 0;
    if (!algorithm) {
        status = win.BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        if (status < 0) {
            algorithm = nullptr;
        } else {
            ULONG got = 0;
            if (win.BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectBytes),
                                      sizeof objectBytes, &got, 0) < 0 ||
                got != sizeof objectBytes) {
                objectBytes = UINT32_MAX;
            }
        }
    }
    *opened = algorithm;
    *bytes = objectBytes;
    win.ReleaseSRWLockExclusive(&algorithmLock);
    return status >= 0 || Failed(status);
}

}  // namespace

bool Sha256Start(Sha256* sum) {
    Sha256Drop(sum);
    BCRYPT_ALG_HANDLE opened = nullptr;
    ULONG bytes = 0;
    if (!OpenAlgorithm(&opened, &bytes)) return false;
    bool inside = bytes <= sizeof sum->object;
    NTSTATUS status = win.BCryptCreateHash(opened, &sum->hash, inside ? sum->object : nullptr,
                                           inside ? sizeof sum->object : 0, nullptr, 0, 0);
    if (status >= 0) return true;
    sum->hash = nullptr;
    return Failed(status);
}

bool Sha256Add(Sha256* sum, const uint8_t* bytes, uint32_t count) {
    if (!sum->hash) {
        win.SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (count == 0) return true;
    NTSTATUS status = win.BCryptHashData(sum->hash, const_cast<PUCHAR>(bytes), count, 0);
    if (status >= 0) return true;
    // What the object holds after a failure is unknown: no digest may come of it.
    Sha256Drop(sum);
    return Failed(status);
}

bool Sha256Finish(Sha256* sum, uint8_t digest[32]) {
    if (!sum->hash) {
        win.SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    NTSTATUS status = win.BCryptFinishHash(sum->hash, digest, 32, 0);
    // A finished object takes nothing more (Windows 7 has no reusable hashes): it goes either way.
    Sha256Drop(sum);
    return status >= 0 || Failed(status);
}

void Sha256Drop(Sha256* sum) {
    if (!sum->hash) return;
    win.BCryptDestroyHash(sum->hash);
    sum->hash = nullptr;
}

void Sha256Hex(const uint8_t digest[32], char hex[65]) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    hex[64] = 0;
}

void ReleaseSha256() {
    win.AcquireSRWLockExclusive(&algorithmLock);
    if (algorithm) win.BCryptCloseAlgorithmProvider(algorithm, 0);
    algorithm = nullptr;
    win.ReleaseSRWLockExclusive(&algorithmLock);
}
