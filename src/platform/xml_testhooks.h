// xml_testhooks.h - controls of the test build (VX_TESTING only): live heap block
// counting for leak checks, failure of the Nth allocation, a fixed salt for the
// hash of the parser's attribute index, and the size from which a parse skips its
// main loop.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef VX_TESTING
// Makes the `nth` allocation from now on fail (1 = the next one); with `sticky`
// every allocation after it fails too. 0 disarms.
void XmlTestFailAt(uint64_t nth, bool sticky = false) noexcept;
// Heap blocks currently allocated through the library and not yet freed.
int64_t XmlTestLiveBlocks() noexcept;
// Allocation attempts made so far (failed ones included).
uint64_t XmlTestAllocCalls() noexcept;
// The largest size asked of the heap since the last call (calloc: count times size),
// and a new count from zero.
size_t XmlTestTakeLargestRequest() noexcept;
// True once an armed failure has been delivered (reset by XmlTestFailAt).
bool XmlTestFailureHit() noexcept;
// Makes every parse salt its duplicate-attribute hash with `salt` (0: drawn as usual).
void XmlTestAttrHashSalt(uint32_t salt) noexcept;
// The salt most recently drawn for a duplicate-attribute index.
uint32_t XmlTestLastAttrHashSalt() noexcept;
// Texts of at least `bytes` bytes from the parse's cursor are read by the dispatcher
// alone, as texts of 2^31 - 1 bytes and more are (0: back to that limit).
void XmlTestDirectLimit(size_t bytes) noexcept;
#endif
