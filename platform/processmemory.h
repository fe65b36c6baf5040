#pragma once
// Allocator settings for a process that reloads large catalogues.

// Makes the C library serve every buffer of 256 KiB or more straight from the system and
// give it back when freed. By default glibc raises that threshold each time such a buffer
// is freed, so a reload places the catalogue's big vectors on the heap between the entry
// blocks, and the holes they leave keep the footprint some 10 to 15 percent above that of
// the first load. Call once at start, before loading.
void KeepLargeBuffersOffHeap();
