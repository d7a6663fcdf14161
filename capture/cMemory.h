#pragma once

#include <cstddef>
#include <cstdint>

// A movable block of heap memory passed around by handle; its address is only
// known while the block is locked. Whoever holds the handle may free the block.
using MemoryHandle = std::uintptr_t;

constexpr unsigned GMEM_ZEROINIT = 0x40;

MemoryHandle GlobalAlloc(unsigned dwFlags, std::size_t lSize);
void *GlobalLock(MemoryHandle hMem);
void GlobalUnlock(MemoryHandle hMem);
std::size_t GlobalSize(MemoryHandle hMem);
void GlobalFree(MemoryHandle hMem);

// Owns one such block: allocates, locks, unlocks and frees it, or hands it on.
class cMemory
{
public:
    cMemory() = default;
    ~cMemory();
    cMemory(const cMemory &) = delete;
    cMemory &operator=(const cMemory &) = delete;

    MemoryHandle Handle() const { return m_hMem; }
    void Handle(MemoryHandle hMem);
    void *Pointer();
    std::size_t Size() const;

    bool AllocateMemory(std::size_t lSize, unsigned dwFlags);
    bool LockMemory();
    void UnlockMemory();
    void FreeMemory();
    void ReleaseDontFreeMemory();

private:
    MemoryHandle m_hMem = 0;
    void *m_lPtr = nullptr;
};
