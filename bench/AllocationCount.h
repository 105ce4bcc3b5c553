// Counts the heap allocations of each thread of a benchmark program by replacing the global operator
// new. The replacements are ordinary (not inline) definitions: include this header in exactly one
// source file of a program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace velmor::bench {

// Allocations made by the calling thread so far.
inline thread_local uint64_t ThreadAllocations = 0;

}  // namespace velmor::bench

void* operator new(std::size_t Size) {
  ++velmor::bench::ThreadAllocations;
  if (void* memory = std::malloc(Size == 0 ? 1 : Size))
    return memory;
  throw std::bad_alloc();
}

void* operator new[](std::size_t Size) {
  return operator new(Size);
}

void operator delete(void* Memory) noexcept {
  std::free(Memory);
}

void operator delete[](void* Memory) noexcept {
  std::free(Memory);
}

void operator delete(void* Memory, std::size_t /*Size*/) noexcept {
  std::free(Memory);
}

void operator delete[](void* Memory, std::size_t /*Size*/) noexcept {
  std::free(Memory);
}
