// The words of the disk and volume listings: sizes in decimal units, bus types, and the name a
// disk gives of itself, read from its device descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows.h"
#include "storage/device_queries.h"

constexpr size_t kDiskSizeChars = 16;
constexpr size_t kDiskNameChars = 256;
// Vendor and product as converted from the descriptor, each at most this many characters.
constexpr size_t kDescriptorTextChars = 128;

// The bus-type column of a device that cannot be opened for reading, and of one that does not
// answer the property query. Both are as wide as the column, so the lines stay aligned.
extern const wchar_t kUnopenedBusWord[];
extern const wchar_t kUnansweredBusWord[];

// "500 GB", "2 TB", "1000 KB", "1499 Bytes"; "untested" for a negative count. `out` holds
// kDiskSizeChars characters.
void FormatDiskSize(int64_t bytes, wchar_t* out);

// The short word of a STORAGE_BUS_TYPE value; "Unknown" for any value the table lacks.
const wchar_t* BusTypeWord(uint32_t busType);

// Vendor and product joined into one name of at most `capacity` - 1 characters, blanks trimmed,
// without the vendor when the product already begins with it.
void JoinVendorProduct(const wchar_t* vendor, const wchar_t* product, wchar_t* out, size_t capacity);

// What a STORAGE_DEVICE_DESCRIPTOR reply of `returned` bytes says. The reply comes from a driver
// and is read as untrusted: fields and strings count only inside the bytes returned, the reply
// buffer and the descriptor's own Size. False when the reply is too short to hold the bus type.
// `vendor` and `product` hold kDescriptorTextChars + 1 characters.
bool ReadDeviceDescriptor(const unsigned char* reply, size_t returned, uint32_t* busType, wchar_t* vendor,
                          wchar_t* product);

// The size, bus word and name of an open disk or volume, from the length query and the
// device-property query. What a query does not answer stays empty; the bus word then says why.
void DescribeStorageDevice(HANDLE device, wchar_t* sizeText, const wchar_t** busWord, wchar_t* name);
