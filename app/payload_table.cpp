#include "app/payload_table.h"

const PayloadEntry payload_entries[kPayloadEntryCount] = {
#define PAYLOAD_ENTRY(name, size) {"entpacke '" name "'", name, size},
#include "app/payload_entries.def"
#undef PAYLOAD_ENTRY
};
