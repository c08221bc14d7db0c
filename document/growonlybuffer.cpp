#include "document/growonlybuffer.h"

#include <new>
#include <sys/mman.h>

namespace tlg {

namespace {

// Rooms this large are mapped by themselves rather than taken from the heap.
constexpr std::size_t kMappedRoom = 32u << 20;

} // namespace

void* AllocateRoom(std::size_t bytes)
{
    if (bytes < kMappedRoom)
        return ::operator new(bytes);
    void* room = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED)
        throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
    ::madvise(room, bytes, MADV_HUGEPAGE);
#endif
    return room;
}

void ReleaseRoom(void* room, std::size_t bytes)
{
    if (bytes < kMappedRoom)
        ::operator delete(room);
    else
        ::munmap(room, bytes);
}

std::size_t TextRoomFor(std::size_t size)
{
    return size + std::max<std::size_t>(size / 8, 1u << 20);
}

} // namespace tlg
