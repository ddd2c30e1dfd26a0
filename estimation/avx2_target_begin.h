// Gives every function defined from here to avx2_target_end.h the AVX2
// target, and nothing else in the file (a target option on the functions,
// not a flag on the file, so no library code shared with the rest of the
// program is compiled for AVX2). Never FMA: a separate target. Included,
// not guarded: each begin pairs with one end.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
