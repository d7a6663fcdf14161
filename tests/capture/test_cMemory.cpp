#include "cMemory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(cMemory, BlockLifecycle)
{
    cMemory memory;
    EXPECT_EQ(memory.Pointer(), nullptr);
    EXPECT_EQ(memory.Size(), 0u);
    EXPECT_FALSE(memory.LockMemory());

    ASSERT_TRUE(memory.AllocateMemory(26, GMEM_ZEROINIT));
    EXPECT_EQ(memory.Size(), 26u);
    auto *bytes = static_cast<unsigned char *>(memory.Pointer());
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 26; ++i)
        EXPECT_EQ(bytes[i], 0);
    EXPECT_FALSE(memory.LockMemory()) << "already locked";
    std::memset(bytes, 0xAB, 26);
    memory.UnlockMemory();
    EXPECT_TRUE(memory.LockMemory());

    // Handing the block on: the new owner frees it, this object forgets it.
    const MemoryHandle handle = memory.Handle();
    memory.ReleaseDontFreeMemory();
    EXPECT_EQ(memory.Handle(), 0u);
    cMemory owner;
    owner.Handle(handle);
    EXPECT_EQ(owner.Size(), 26u);
    EXPECT_EQ(static_cast<unsigned char *>(owner.Pointer())[25], 0xAB);
    owner.FreeMemory();
    EXPECT_EQ(owner.Handle(), 0u);
    EXPECT_EQ(owner.Size(), 0u);
}
