// Storage for the driver object: the platform's own operator new and delete,
// in the form that reports exhaustion as null.

#include <new>

#include "platform.h"

namespace platform {

void* AllocateObjectStorage(std::size_t size) noexcept { return ::operator new(size, std::nothrow); }

void FreeObjectStorage(void* storage) noexcept { ::operator delete(storage); }

}  // namespace platform
