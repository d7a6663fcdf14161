#include "cMemory.h"

#include <cstring>
#include <new>

namespace {

struct MemoryBlock
{
    std::size_t size;
    unsigned char *data;
};

MemoryBlock *BlockOf(MemoryHandle hMem)
{
    return reinterpret_cast<MemoryBlock *>(hMem);
}

} // namespace

MemoryHandle GlobalAlloc(unsigned dwFlags, std::size_t lSize)
{
    auto *block = new (std::nothrow) MemoryBlock{lSize, new (std::nothrow) unsigned char[lSize ? lSize : 1]};
    if (!block)
        return 0;
    if (!block->data) {
        delete block;
        return 0;
    }
    if (dwFlags & GMEM_ZEROINIT)
        std::memset(block->data, 0, lSize);
    return reinterpret_cast<MemoryHandle>(block);
}

void *GlobalLock(MemoryHandle hMem)
{
    return hMem ? BlockOf(hMem)->data : nullptr;
}

void GlobalUnlock(MemoryHandle) {}

std::size_t GlobalSize(MemoryHandle hMem)
{
    return hMem ? BlockOf(hMem)->size : 0;
}

void GlobalFree(MemoryHandle hMem)
{
    if (!hMem)
        return;
    delete[] BlockOf(hMem)->data;
    delete BlockOf(hMem);
}

cMemory::~cMemory()
{
    FreeMemory();
}

void cMemory::Handle(MemoryHandle hMem)
{
    FreeMemory();
    m_hMem = hMem;
}

void *cMemory::Pointer()
{
    if (!m_hMem)
        return nullptr;
    LockMemory();
    return m_lPtr;
}

std::size_t cMemory::Size() const
{
    return GlobalSize(m_hMem);
}

bool cMemory::AllocateMemory(std::size_t lSize, unsigned dwFlags)
{
    FreeMemory();
    m_hMem = GlobalAlloc(dwFlags, lSize);
    return m_hMem != 0;
}

bool cMemory::LockMemory()
{
    if (!m_hMem || m_lPtr)
        return false;
    m_lPtr = GlobalLock(m_hMem);
    return m_lPtr != nullptr;
}

void cMemory::UnlockMemory()
{
    if (m_lPtr) {
        GlobalUnlock(m_hMem);
        m_lPtr = nullptr;
    }
}

void cMemory::FreeMemory()
{
    UnlockMemory();
    GlobalFree(m_hMem);
    m_hMem = 0;
}

void cMemory::ReleaseDontFreeMemory()
{
    UnlockMemory();
    m_hMem = 0;
}
