/* Counts the heap allocations of the whole process (benchmark binaries only). */
#ifndef VORSEL_BENCH_ALLOCATION_COUNTER_H
#define VORSEL_BENCH_ALLOCATION_COUNTER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Allocations since the process started: malloc, calloc, realloc and the aligned forms.
 * operator new comes through malloc. */
unsigned long allocation_count(void);

#ifdef __cplusplus
}
#endif

#endif
