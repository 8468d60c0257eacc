#include "app/payload_table.h"

const PayloadEntry payload_entries[kPayloadEntryCount] = {
    {"entpacke 'quorvane.exe'", "quorvane.exe"}, {"entpacke 'tessalor.dll'", "tessalor.dll"},
    {"entpacke 'mirkel.exe'", "mirkel.exe"},     {"entpacke 'fandost.exe'", "fandost.exe"},
    {"entpacke 'brovix.exe'", "brovix.exe"},     {"entpacke 'lostrand.txt'", "lostrand.txt"},
};
