/*
 * Replaces the C library's allocation functions for the binary it is linked into, counting every
 * call before handing it to the C library's own implementation. Not for sanitizer builds, which
 * bring allocators of their own.
 */
#include "allocation_counter.h"

#include <errno.h>
#include <stddef.h>

void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);

static unsigned long allocations;

static void countAllocation(void)
{
    __atomic_fetch_add(&allocations, 1, __ATOMIC_RELAXED);
}

unsigned long allocation_count(void)
{
    return __atomic_load_n(&allocations, __ATOMIC_RELAXED);
}

void *malloc(size_t size)
{
    countAllocation();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    countAllocation();
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size)
{
    countAllocation();
    return __libc_realloc(pointer, size);
}

void *memalign(size_t alignment, size_t size)
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    countAllocation();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **result, size_t alignment, size_t size)
{
    countAllocation();
    void *pointer = __libc_memalign(alignment, size);
    if (pointer == NULL) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

void free(void *pointer)
{
    __libc_free(pointer);
}
