#include "storage/disk_listing.h"

// The disk enumeration is not built yet: the listing is empty.
void ListDisks() {}
