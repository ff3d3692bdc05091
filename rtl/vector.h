// Whether the vector roads are built: SSE2 on x86-64, which every such processor has, unless the build
// asks for the word-arithmetic roads alone (QUIL_NO_VECTOR), so that those compile and are tested too.
#pragma once

#if defined(__SSE2__) && defined(__x86_64__) && !defined(QUIL_NO_VECTOR)
#define QUIL_VECTOR 1
#else
#define QUIL_VECTOR 0
#endif
