// Stands in for the C library's allocator (glibc allows this) to count every allocation, from
// our code and from the C library's own, such as fopen's.
#include "allocation_count.h"

#include <atomic>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<size_t> allocations{0};

void Count() {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
}
}  // namespace

void StartCountingAllocations() {
  allocations = 0;
  counting = true;
}

size_t StopCountingAllocations() {
  counting = false;
  return allocations;
}

extern "C" {
void* malloc(size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  Count();
  return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** result, size_t alignment, size_t size) {
  *result = memalign(alignment, size);
  return *result == nullptr ? 12 /* ENOMEM */ : 0;
}
void free(void* block) { __libc_free(block); }
}
