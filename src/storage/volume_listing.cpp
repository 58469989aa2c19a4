#include "storage/volume_listing.h"

// The volume enumeration is not built yet: the listing is empty.
void ListVolumes() {}
