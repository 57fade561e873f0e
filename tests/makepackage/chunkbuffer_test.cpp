// Chunk buffers: every byte of the asked size is usable, and ownership moves.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "tool/makepackage/kwchunkbuffer.h"
#include "tool/makepackage/kwpkgformat.h"

TEST(ChunkBuffer, WholeSizeIsUsableAndOwnershipMoves) {
  for (size_t size : {size_t(1), size_t(2 * 1024 * 1024), size_t(kwpkg::kChunkSize),
                      size_t(kwpkg::kMaxCompressedChunk)}) {
    KwChunkBuffer b(size);
    ASSERT_NE(b.get(), nullptr);
    std::memset(b.get(), 0x5A, size);  // Touches the first and the last page.
    EXPECT_EQ(b.get()[size - 1], 0x5A);
    uint8_t* const data = b.get();
    KwChunkBuffer moved(std::move(b));
    EXPECT_EQ(moved.get(), data);
    EXPECT_EQ(b.get(), nullptr);
    KwChunkBuffer other(64);
    other = std::move(moved);  // Frees its own buffer, takes the moved one.
    EXPECT_EQ(other.get(), data);
    EXPECT_EQ(other.get()[0], 0x5A);
  }
}
