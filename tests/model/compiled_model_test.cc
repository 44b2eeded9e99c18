#include "model/compiled_model.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace korvel {
namespace {

template <class Cells>
std::vector<Cell*> inOrder(const Cells& set) {
  return std::vector<Cell*>(set.begin(), set.end());
}

TEST(CompiledModel, CellAtCreatesOnceAndFindCellNeverCreates) {
  CompiledModel model;
  EXPECT_EQ(model.findCell(CellRef::at(0, 3, 3)), nullptr);
  EXPECT_EQ(model.cellCount(), 0u);

  Cell* cell = model.cellAt(CellRef::at(0, 3, 3));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->model, &model);
  EXPECT_EQ(cell->address, CellRef::at(0, 3, 3));
  EXPECT_EQ(cell->value, nullptr);
  EXPECT_EQ(cell->firstListIndex, -1);
  EXPECT_EQ(cell->secondListIndex(), -1);
  EXPECT_EQ(model.cellAt(CellRef::at(0, 3, 3)), cell);
  EXPECT_EQ(model.cellAt(CellRef{3 | 0x00F00000u, 3}), cell);
  EXPECT_EQ(model.findCell(CellRef::at(0, 3, 3)), cell);
  EXPECT_EQ(model.cellCount(), 1u);

  // No cell is made at the sentinel, so repeated lookups cannot pile up orphans.
  EXPECT_EQ(model.cellAt(CellRef::none()), nullptr);
  EXPECT_EQ(model.cellCount(), 1u);
  EXPECT_TRUE(model.indexedCells().empty());
}

TEST(CompiledModel, CellsAndListsFollowIdentityNotAddress) {
  CompiledModel model;
  Cell* late = model.cellAt(CellRef::at(0, 9, 9));
  Cell* early = model.cellAt(CellRef::at(0, 0, 0));
  Cell* loaded = model.newCell();
  EXPECT_TRUE(loaded->address.isNone());
  EXPECT_EQ(model.findCell(CellRef::none()), nullptr);
  EXPECT_EQ(inOrder(model.cells()), (std::vector<Cell*>{late, early, loaded}));

  // The loader fills the cell in and places it.
  loaded->address = CellRef::at(1, 5, 5);
  loaded->firstListIndex = 0;
  loaded->flags = kCellAlwaysRecalculated;
  EXPECT_EQ(model.placeCell(loaded), nullptr);
  EXPECT_EQ(model.findCell(CellRef::at(1, 5, 5)), loaded);

  // Entered out of order and twice: the lists stay sorted by identity without duplicates.
  late->flags = kCellInput | kCellAlwaysRecalculated;
  model.enterInLists(loaded);
  model.enterInLists(late);
  model.enterInLists(loaded);
  early->firstListIndex = 4;
  model.enterInLists(early);
  EXPECT_EQ(model.indexedCells(), (std::vector<Cell*>{late, early, loaded}));
  EXPECT_EQ(model.alwaysRecalculatedCells(), (std::vector<Cell*>{late, loaded}));

  // Precedent links go both ways, ordered by identity.
  loaded->addPrecedent(early);
  loaded->addPrecedent(late);
  loaded->addPrecedent(early);
  EXPECT_EQ(inOrder(loaded->precedents), (std::vector<Cell*>{late, early}));
  EXPECT_EQ(inOrder(early->dependents), (std::vector<Cell*>{loaded}));

  // A cell placed over another displaces it; the displaced cell stays in the model.
  Cell* other = model.newCell();
  other->address = CellRef::at(0, 9, 9);
  EXPECT_EQ(model.placeCell(other), late);
  EXPECT_EQ(model.findCell(CellRef::at(0, 9, 9)), other);
  EXPECT_EQ(model.cellCount(), 4u);
}

TEST(CompiledModel, DestroysCellsWithTheirValues) {
  // Under the sanitizers this also shows that teardown frees each cell and value exactly once.
  auto model = std::make_unique<CompiledModel>();
  Cell* cell = model->cellAt(CellRef::at(0, 1, 1));
  cell->ensureValue().setText(u"a text well past the short form");
  EXPECT_EQ(&cell->ensureValue(), cell->value);
  cell->setHyperlink(std::make_unique<Hyperlink>());
  cell->hyperlink()->kind = Hyperlink::kInWorkbook;
  cell->hyperlink()->target = u"Sheet2!A1";
  cell->setArrayRange(RangeRef{cell->address, cell->address});
  model->cellAt(CellRef::at(0, 2, 1))->ensureValue().setNumber(2.5);
  model->sheets().add(Sheet(0, u"One", u"One"));

  model->clearCells();
  EXPECT_EQ(model->cellCount(), 0u);
  EXPECT_EQ(model->findCell(CellRef::at(0, 1, 1)), nullptr);
  EXPECT_EQ(model->sheets().size(), 1u);

  model->cellAt(CellRef::at(0, 1, 1))->ensureValue().setText(u"another long text value");
  model.reset();
}

}  // namespace
}  // namespace korvel
