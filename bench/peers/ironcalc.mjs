// Computes a workbook text with IronCalc's WebAssembly build, as `korvel calc BOOK --set
// CELL=VALUE --get CELL` does: enters every cell with evaluation paused, evaluates, sets the
// inputs (each evaluates the workbook again), prints the cells.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { readWorkbook, readArguments, phaseTimer } from './workbook.mjs';
import { initSync, Model } from '@ironcalc/wasm';

const require = createRequire(import.meta.url);
const timer = phaseTimer();
initSync({ module: readFileSync(require.resolve('@ironcalc/wasm/wasm_bg.wasm')) });
const args = readArguments(process.argv.slice(2));
const book = readWorkbook(args.book);
timer.mark('read');
const model = new Model('bench', 'en', 'UTC', 'en');
const sheetIndex = new Map();
book.sheets.forEach((sheet, i) => {
  if (i > 0) model.newSheet();
  model.renameSheet(i, sheet.name);
  sheetIndex.set(sheet.name, i);
});
const index = (name) => {
  const i = sheetIndex.get(name);
  if (i === undefined) throw new Error(`no sheet ${name}`);
  return i;
};
// IronCalc counts rows and columns from 1.
const input = (value) => (typeof value === 'boolean' ? (value ? 'TRUE' : 'FALSE') : String(value));
model.pauseEvaluation();
book.sheets.forEach((sheet, i) => {
  for (const cell of sheet.cells) {
    model.setUserInput(i, cell.row + 1, cell.column + 1, cell.formula ?? input(cell.value));
  }
});
timer.mark('enter');
model.resumeEvaluation();
model.evaluate();
timer.mark('compute');
for (const set of args.sets) {
  model.setUserInput(index(set.place.sheet), set.place.row + 1, set.place.column + 1, input(set.value));
}
timer.mark('recalculate');
for (const get of args.gets) {
  const p = get.place;
  console.log(`${get.cell} = ${model.getFormattedCellValue(index(p.sheet), p.row + 1, p.column + 1)}`);
}
timer.report('ironcalc');
