#pragma once
// Allocator settings for a process that reloads large catalogues.

// Makes the C library serve every buffer of 256 KiB or more straight from the system and
// give it back when freed. By default glibc raises that threshold each time such a buffer
// is freed, so a reload places the catalogue's big vectors on the heap between the entry
// blocks, and the holes they leave keep the footprint some 10 to 15 percent above that of
// the first load. Call once at start, before loading.
void KeepLargeBuffersOffHeap();

// Gives the pages the C library holds free (in the heap's holes and in the arenas of threads
// that have ended) back to the system. A reload lets go of a whole catalogue, listed by
// threads of their own; without this the pages freed stay resident, and the footprint creeps
// up from one reload to the next. Call when a large catalogue has been let go.
void ReturnFreedMemory();
