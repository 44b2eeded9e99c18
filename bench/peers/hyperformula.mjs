// Computes a workbook text with HyperFormula, as `korvel calc BOOK --set CELL=VALUE --get CELL`
// does: builds the sheets (the first computation happens there), sets the inputs, prints the cells.
import { createRequire } from 'node:module';
import { readWorkbook, readArguments, phaseTimer } from './workbook.mjs';

const require = createRequire(import.meta.url);
const { HyperFormula } = require('hyperformula');

// HyperFormula has no boolean literals in formulas, only the functions TRUE() and FALSE(): the
// one change of dialect the generated workbooks need (texts in quotes are left alone).
const dialect = (formula) =>
  formula
    .split(/("(?:[^"]|"")*")/)
    .map((part, i) => (i % 2 === 1 ? part : part.replace(/\b(TRUE|FALSE)\b(?!\s*\()/gi, '$1()')))
    .join('');

const timer = phaseTimer();
const args = readArguments(process.argv.slice(2));
const book = readWorkbook(args.book);
const sheets = {};
for (const sheet of book.sheets) {
  const rows = Array.from({ length: sheet.rows }, () => new Array(sheet.columns).fill(null));
  for (const cell of sheet.cells) rows[cell.row][cell.column] = cell.formula ? dialect(cell.formula) : cell.value;
  sheets[sheet.name] = rows;
}
timer.mark('read');
const hf = HyperFormula.buildFromSheets(sheets, {
  licenseKey: 'gpl-v3',
  useColumnIndex: true,
  maxRows: 1048576,
  maxColumns: 16384,
});
timer.mark('build and compute');
const address = (place) => {
  const sheet = hf.getSheetId(place.sheet);
  if (sheet === undefined) throw new Error(`no sheet ${place.sheet}`);
  return { sheet, row: place.row, col: place.column };
};
for (const set of args.sets) hf.setCellContents(address(set.place), [[set.value]]);
timer.mark('recalculate');
for (const get of args.gets) {
  const value = hf.getCellValue(address(get.place));
  // Errors are objects carrying the error's text.
  const text = value !== null && typeof value === 'object' ? value.value : String(value);
  console.log(`${get.cell} = ${text}`);
}
timer.report('hyperformula');
