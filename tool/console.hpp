#pragma once

namespace kestrave {

// Prints one formatted line on standard output and flushes it. Returns 0, or
// the errno of the failure: a report that did not reach its reader must not
// pass for one that did.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
int printReport(const char* format, ...);

}  // namespace kestrave
