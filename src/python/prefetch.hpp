// A hint to the processor to start loading the cache line at an address.
//
// Scans that follow a pointer per element (a node's properties dict, an edge's
// core and its type) ask for the lines a few elements ahead, so that the
// loads overlap instead of waiting one after the other.
#pragma once

namespace velarto::py {

// GCC drops __builtin_prefetch when it loaded the address for nothing else,
// which is exactly the case here; an asm statement it has to keep.
inline void prefetch(const void* address) {
    if (!address) return;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#else
    __builtin_prefetch(address);
#endif
}

} // namespace velarto::py
