#include "model/cell_grid.h"

#include <gtest/gtest.h>

#include <vector>

#include "model/cell.h"

namespace korvel {
namespace {

// The grid only stores pointers; distinct addresses stand in for cells.
Cell* fake(uintptr_t n) { return reinterpret_cast<Cell*>(n * 16); }

TEST(CellGrid, FindsWhatWasPlacedAndNothingElse) {
  CellGrid grid;
  EXPECT_EQ(grid.find(CellRef::at(0, 0, 0)), nullptr);
  EXPECT_EQ(grid.place(CellRef::at(0, 4, 2), fake(1)), nullptr);
  EXPECT_EQ(grid.place(CellRef::at(2, 4, 2), fake(2)), nullptr);
  EXPECT_EQ(grid.find(CellRef::at(0, 4, 2)), fake(1));
  EXPECT_EQ(grid.find(CellRef::at(2, 4, 2)), fake(2));
  for (CellRef miss :
       {CellRef::at(1, 4, 2), CellRef::at(0, 3, 2), CellRef::at(0, 5, 2), CellRef::at(0, 4, 1),
        CellRef::at(0, 4, 3), CellRef::at(9, 4, 2), CellRef::at(0, 4 + 65536, 2)}) {
    EXPECT_EQ(grid.find(miss), nullptr);
  }
  // Replacing returns the previous occupant; erasing empties the slot.
  EXPECT_EQ(grid.place(CellRef::at(0, 4, 2), fake(3)), fake(1));
  EXPECT_EQ(grid.erase(CellRef::at(0, 4, 2)), fake(3));
  EXPECT_EQ(grid.find(CellRef::at(0, 4, 2)), nullptr);
  EXPECT_EQ(grid.erase(CellRef::at(0, 4, 2)), nullptr);
}

TEST(CellGrid, MasksBitsOutsideTheAddress) {
  CellGrid grid;
  grid.place(CellRef::at(1, 70000, 300), fake(1));
  CellRef noisy{70000 | 0xFFF00000u, (1u << 16) | 0xC000u | 300};
  EXPECT_EQ(grid.find(noisy), fake(1));
  // Placing under a noisy address lands in the same slot.
  EXPECT_EQ(grid.place(noisy, fake(2)), fake(1));

  // Sheet 0xFFFF is looked up as 0xFFFE.
  grid.place(CellRef::at(0xFFFF, 3, 3), fake(3));
  EXPECT_EQ(grid.find(CellRef::at(0xFFFE, 3, 3)), fake(3));
  EXPECT_EQ(grid.find(CellRef::at(0xFFFF, 3, 3)), fake(3));

  // The sentinel is never placed and finds nothing, even where its masked bits point.
  EXPECT_EQ(grid.place(CellRef::none(), fake(4)), nullptr);
  grid.place(CellRef::at(0xFFFE, kRowMask, kColumnMask), fake(5));
  EXPECT_EQ(grid.find(CellRef::none()), nullptr);
}

TEST(CellGrid, RowBlocksAndSpansGrowAtEitherEnd) {
  CellGrid grid;
  // Columns arrive above, then below, then far above the first one; rows in many blocks.
  const std::vector<CellRef> addresses = {
      CellRef::at(0, 10, 100),   CellRef::at(0, 5, 3),     CellRef::at(0, 1048575, 3),
      CellRef::at(0, 65536, 3),  CellRef::at(0, 65535, 3), CellRef::at(0, 200000, 16383),
      CellRef::at(0, 131071, 3), CellRef::at(0, 0, 0),     CellRef::at(0, 6, 3)};
  for (size_t i = 0; i < addresses.size(); ++i) grid.place(addresses[i], fake(i + 1));
  for (size_t i = 0; i < addresses.size(); ++i) {
    EXPECT_EQ(grid.find(addresses[i]), fake(i + 1)) << i;
  }
  std::vector<GridExtent> expected = {
      {0, 0, 0, 0},          {0, 3, 5, 65535},
      {0, 3, 65536, 131071}, {0, 3, 1048575, 1048575},
      {0, 100, 10, 10},      {0, 16383, 196608 + 3392, 196608 + 3392}};
  EXPECT_EQ(grid.extents(), expected);
}

TEST(CellGrid, FallingRowsKeepExactExtents) {
  CellGrid grid;
  for (uint32_t row = 5000; row-- > 1000;) grid.place(CellRef::at(0, row, 7), fake(row + 1));
  for (uint32_t row : {1000u, 2500u, 4999u})
    EXPECT_EQ(grid.find(CellRef::at(0, row, 7)), fake(row + 1));
  EXPECT_EQ(grid.find(CellRef::at(0, 999, 7)), nullptr);
  EXPECT_EQ(grid.find(CellRef::at(0, 5000, 7)), nullptr);
  EXPECT_EQ(grid.extents(), (std::vector<GridExtent>{{0, 7, 1000, 4999}}));
}

TEST(CellGrid, ReserveRowsAllocatesWithinOneBlockAndCreatesNoCells) {
  CellGrid grid;
  EXPECT_TRUE(grid.reserveRows(1, 2, 10, 20));
  // Beyond the block of the first row: clamped to that block.
  EXPECT_TRUE(grid.reserveRows(1, 2, 65530, 200000));
  // Sheet 0xFFFF reserves for 0xFFFE.
  EXPECT_TRUE(grid.reserveRows(0xFFFF, 0, 1, 1));
  for (uint32_t row : {10u, 15u, 20u, 65530u, 65535u, 65536u}) {
    EXPECT_EQ(grid.find(CellRef::at(1, row, 2)), nullptr);
  }
  std::vector<GridExtent> expected = {{1, 2, 10, 65535}, {0xFFFE, 0, 1, 1}};
  EXPECT_EQ(grid.extents(), expected);

  // Absurd extents reserve nothing.
  EXPECT_FALSE(grid.reserveRows(0, 0, 9, 8));
  EXPECT_FALSE(grid.reserveRows(0, 16384, 0, 0));
  EXPECT_FALSE(grid.reserveRows(0, 0, 0x100000, 0x100001));
  EXPECT_FALSE(grid.reserveRows(0x10000, 0, 0, 0));
  EXPECT_EQ(grid.extents(), expected);

  // Cells placed inside the reserve leave the extents as they were.
  grid.place(CellRef::at(1, 12, 2), fake(1));
  EXPECT_EQ(grid.find(CellRef::at(1, 12, 2)), fake(1));
  EXPECT_EQ(grid.extents(), expected);

  grid.clear();
  EXPECT_TRUE(grid.extents().empty());
  EXPECT_EQ(grid.find(CellRef::at(1, 12, 2)), nullptr);
}

TEST(CellGrid, LastRowWithCellSkipsReservedAndErasedSlots) {
  CellGrid grid;
  EXPECT_EQ(grid.lastRowWithCell(0, 0), -1);
  EXPECT_TRUE(grid.reserveRows(0, 0, 0, 500));
  EXPECT_EQ(grid.lastRowWithCell(0, 0), -1);  // slots without cells
  grid.place(CellRef::at(0, 7, 0), fake(1));
  grid.place(CellRef::at(0, 70000, 0), fake(2));
  EXPECT_EQ(grid.lastRowWithCell(0, 0), 70000);
  grid.erase(CellRef::at(0, 70000, 0));
  EXPECT_EQ(grid.lastRowWithCell(0, 0), 7);  // back across the block boundary
  EXPECT_EQ(grid.lastRowWithCell(0, 1), -1);
  EXPECT_EQ(grid.lastRowWithCell(3, 0), -1);
}

}  // namespace
}  // namespace korvel
