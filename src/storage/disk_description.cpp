#include "storage/disk_description.h"

#include <cstring>
#include <cwchar>

#include "platform/win_api.h"

const wchar_t kUnopenedBusWord[] = L"NoAccess";
const wchar_t kUnansweredBusWord[] = L"NoInfo";

namespace {

const wchar_t* const kBusWords[] = {
    L"Unknown", L"SCSI", L"ATAPI", L"ATA", L"FireWire", L"SSA",     L"Fibre",  L"USB",  L"RAID", L"iSCSI",
    L"SAS",     L"SATA", L"SD",    L"MMC", L"Virtual",  L"Virtual", L"Spaces", L"NVMe", L"SCM",  L"UFS",
};

// STORAGE_DEVICE_DESCRIPTOR, as published.
constexpr size_t kSizeOffset = offsetof(STORAGE_DEVICE_DESCRIPTOR, Size);
constexpr size_t kVendorOffset = offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset);
constexpr size_t kProductOffset = offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset);
constexpr size_t kBusTypeOffset = offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType);
static_assert(kSizeOffset == 4 && kVendorOffset == 12 && kProductOffset == 16 && kBusTypeOffset == 28);

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The part of `text` between leading and trailing blanks, as [*begin, *end).
void TrimmedRange(const wchar_t* text, const wchar_t** begin, const wchar_t** end) {
    if (!text) text = L"";
    const wchar_t* b = text;
    while (IsBlank(*b)) ++b;
    const wchar_t* e = b + wcslen(b);
    while (e > b && IsBlank(e[-1])) --e;
    *begin = b;
    *end = e;
}

uint32_t ReadU32(const unsigned char* bytes, size_t offset) {
    uint32_t value = 0;
    memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// The ANSI string at `offset`, cut at its terminator or at `limit`, whichever comes first, and
// at kDescriptorTextChars bytes. An offset of 0 names no string.
void ReadDescriptorText(const unsigned char* reply, size_t limit, uint32_t offset, wchar_t* out) {
    out[0] = 0;
    if (offset == 0 || offset >= limit) return;
    const char* text = reinterpret_cast<const char*>(reply + offset);
    size_t room = limit - offset;
    const void* zero = memchr(text, 0, room);
    size_t length = zero ? static_cast<const char*>(zero) - text : room;
    if (length > kDescriptorTextChars) length = kDescriptorTextChars;
    if (length == 0) return;
    int chars =
        win.MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), out, static_cast<int>(kDescriptorTextChars));
    out[chars > 0 ? chars : 0] = 0;
}

// In place, every "Generic- " (any case) becomes "Generic ": card readers name themselves so.
void CollapseGenericDash(wchar_t* text) {
    static const wchar_t kPattern[] = L"generic- ";
    const size_t patternLength = wcslen(kPattern);
    size_t length = wcslen(text);
    size_t read = 0, write = 0;
    while (read < length) {
        bool match = length - read >= patternLength;
        for (size_t i = 0; match && i < patternLength; ++i) match = towlower(text[read + i]) == kPattern[i];
        if (match) {
            wmemcpy(text + write, L"Generic ", 8);
            write += 8;
            read += patternLength;
        } else {
            text[write++] = text[read++];
        }
    }
    text[write] = 0;
}

}  // namespace

void FormatDiskSize(int64_t bytes, wchar_t* out) {
    if (bytes < 0) {
        win.wsprintfW(out, L"untested");
        return;
    }
    // Decimal units, as disks are sold; every step rounds to the nearest whole unit.
    uint64_t megabytes = static_cast<uint64_t>(bytes) / 1000000;
    if (megabytes >= 1000000) {
        win.wsprintfW(out, L"%u %s", static_cast<uint32_t>((megabytes + 500000) / 1000000), L"TB");
    } else if (megabytes >= 1000) {
        win.wsprintfW(out, L"%u %s", static_cast<uint32_t>((megabytes + 500) / 1000), L"GB");
    } else {
        uint64_t kilobytes = (static_cast<uint64_t>(bytes) + 500) / 1000;
        if (kilobytes > 1000) {
            win.wsprintfW(out, L"%u MB", static_cast<uint32_t>((kilobytes + 500) / 1000));
        } else if (kilobytes >= 2) {
            win.wsprintfW(out, L"%u KB", static_cast<uint32_t>(kilobytes));
        } else {
            win.wsprintfW(out, L"%u Bytes", static_cast<uint32_t>(bytes));
        }
    }
}

const wchar_t* BusTypeWord(uint32_t busType) {
    return busType < sizeof(kBusWords) / sizeof(kBusWords[0]) ? kBusWords[busType] : kBusWords[0];
}

void JoinVendorProduct(const wchar_t* vendor, const wchar_t* product, wchar_t* out, size_t capacity) {
    if (!out || capacity == 0) return;
    const wchar_t *vendorBegin, *vendorEnd, *productBegin, *productEnd;
    TrimmedRange(vendor, &vendorBegin, &vendorEnd);
    TrimmedRange(product, &productBegin, &productEnd);
    size_t vendorLength = vendorEnd - vendorBegin;
    size_t productLength = productEnd - productBegin;
    if (vendorLength > capacity - 1) vendorLength = capacity - 1;
    // A product that already begins with the vendor ("ACME DISK 100" of ACME) names it once.
    if (productLength >= vendorLength && wmemcmp(productBegin, vendorBegin, vendorLength) == 0) vendorLength = 0;
    wmemcpy(out, vendorBegin, vendorLength);
    size_t length = vendorLength;
    if (length + productLength + 2 < capacity) {
        if (length > 0 && productLength > 0) out[length++] = L' ';
        wmemcpy(out + length, productBegin, productLength);
        length += productLength;
    }
    out[length] = 0;
    CollapseGenericDash(out);
}

bool ReadDeviceDescriptor(const unsigned char* reply, size_t returned, uint32_t* busType, wchar_t* vendor,
                          wchar_t* product) {
    vendor[0] = product[0] = 0;
    size_t limit = returned < kDescriptorReplyBytes ? returned : kDescriptorReplyBytes;
    if (limit < kBusTypeOffset + sizeof(uint32_t)) return false;
    *busType = ReadU32(reply, kBusTypeOffset);
    // The descriptor's own Size may shorten what counts, never lengthen it.
    uint32_t size = ReadU32(reply, kSizeOffset);
    if (size < limit) limit = size;
    ReadDescriptorText(reply, limit, ReadU32(reply, kVendorOffset), vendor);
    ReadDescriptorText(reply, limit, ReadU32(reply, kProductOffset), product);
    return true;
}

void DescribeStorageDevice(HANDLE device, wchar_t* sizeText, const wchar_t** busWord, wchar_t* name) {
    sizeText[0] = name[0] = 0;
    uint64_t length = 0;
    if (QueryDiskLength(device, &length) == ERROR_SUCCESS) FormatDiskSize(static_cast<int64_t>(length), sizeText);
    alignas(8) unsigned char reply[kDescriptorReplyBytes] = {};
    uint32_t busType = 0;
    wchar_t vendor[kDescriptorTextChars + 1];
    wchar_t product[kDescriptorTextChars + 1];
    DWORD returned = QueryDeviceDescriptor(device, reply);
    if (returned == 0 || !ReadDeviceDescriptor(reply, returned, &busType, vendor, product)) {
        *busWord = kUnansweredBusWord;
        return;
    }
    *busWord = BusTypeWord(busType);
    JoinVendorProduct(vendor, product, name, kDiskNameChars);
}
