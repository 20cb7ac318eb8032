// Big-endian loads and stores for every record that travels over the network or sits in a core bundle,
// key or signature. Destination and source may be the same address (conversion in place); a null pointer
// makes the operation do nothing.
#pragma once

#include "runtime/types.h"

void v3LoadBE16(u16* destination, const void* source);
void v3StoreBE16(void* destination, const u16* source);
void v3LoadBE32(u32* destination, const void* source);
void v3StoreBE32(void* destination, const u32* source);
void v3LoadBE64(u64* destination, const void* source);
void v3StoreBE64(void* destination, const u64* source);
// True on a big-endian host, decided at run time from the bytes "ABCD" read as a native u32.
[[nodiscard]] bool v3HostIsBigEndian();
