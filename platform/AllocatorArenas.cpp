#include "platform/AllocatorArenas.h"

#include <cstdlib>  // defines __GLIBC__ where it is glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {

void useOneAllocatorArena() {
#ifdef __GLIBC__
    (void)mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace platform
