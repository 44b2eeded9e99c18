// Reads the workbook texts that korvel_bench --write_book generates (docs/workbook_text.md):
// [Sheet] headers, then one cell a line, a constant or a formula; comments name the input and
// output cells. Anything else the format allows is refused, so that a peer never computes a
// workbook other than the one korvel computed.
import { readFileSync } from 'node:fs';

// "AB12" -> { row: 11, column: 27 } (zero-based).
export function parseA1(text) {
  const m = /^\$?([A-Z]+)\$?([0-9]+)$/.exec(text);
  if (!m) throw new Error(`not a cell address: ${text}`);
  let column = 0;
  for (const ch of m[1]) column = column * 26 + (ch.charCodeAt(0) - 64);
  return { row: Number(m[2]) - 1, column: column - 1 };
}

// "Sheet1!B7" -> { sheet: "Sheet1", row: 6, column: 1 }.
export function parsePlace(text) {
  const bang = text.lastIndexOf('!');
  if (bang < 0) throw new Error(`a cell needs its sheet: ${text}`);
  return { sheet: text.slice(0, bang), ...parseA1(text.slice(bang + 1)) };
}

// A constant as the peers take it: numbers as numbers, texts without their quotes.
function constant(text) {
  if (text.startsWith('"')) {
    if (!text.endsWith('"') || text.length < 2) throw new Error(`unterminated text: ${text}`);
    return text.slice(1, -1).replaceAll('""', '"');
  }
  if (/^(TRUE|FALSE)$/i.test(text)) return text.toUpperCase() === 'TRUE';
  const n = Number(text);
  if (text === '' || Number.isNaN(n)) throw new Error(`not a constant: ${text}`);
  return n;
}

// { sheets: [{ name, cells: [{ row, column, formula?, value? }], rows, columns }], input, output }
export function readWorkbook(path) {
  const sheets = [];
  let sheet = null;
  let input = null;
  let output = null;
  const lines = readFileSync(path, 'utf8').split('\n');
  lines.forEach((raw, i) => {
    const line = raw.trim();
    if (line === '') return;
    if (line.startsWith('#')) {
      const m = /^# (input|output) (\S+)$/.exec(line);
      if (m && m[1] === 'input') input = m[2];
      if (m && m[1] === 'output') output = m[2];
      return;
    }
    if (line.startsWith('[')) {
      if (!line.endsWith(']')) throw new Error(`${path}: line ${i + 1}: bad sheet header`);
      sheet = { name: line.slice(1, -1), cells: [], rows: 0, columns: 0 };
      sheets.push(sheet);
      return;
    }
    const colon = line.indexOf(': ');
    if (colon < 0 || !sheet) throw new Error(`${path}: line ${i + 1}: not a cell line`);
    const { row, column } = parseA1(line.slice(0, colon));
    const content = line.slice(colon + 2);
    const cell = { row, column };
    if (content.startsWith('=')) {
      if (content.includes(' -> ')) throw new Error(`${path}: line ${i + 1}: cached values unsupported`);
      cell.formula = content;
    } else {
      cell.value = constant(content);
    }
    sheet.cells.push(cell);
    sheet.rows = Math.max(sheet.rows, row + 1);
    sheet.columns = Math.max(sheet.columns, column + 1);
  });
  return { sheets, input, output };
}

// The command line the peers share with `korvel calc`: BOOK --set CELL=VALUE --get CELL.
export function readArguments(argv) {
  const args = { book: null, sets: [], gets: [] };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--set') {
      const [cell, value] = argv[++i].split('=');
      args.sets.push({ cell, place: parsePlace(cell), value: constant(value) });
    } else if (argv[i] === '--get') {
      args.gets.push({ cell: argv[i + 1], place: parsePlace(argv[++i]) });
    } else if (args.book === null) {
      args.book = argv[i];
    } else {
      throw new Error(`unexpected argument: ${argv[i]}`);
    }
  }
  if (!args.book) throw new Error('usage: BOOK.txt [--set Sheet1!A1=VALUE]... [--get Sheet1!B2]...');
  return args;
}

// Phase times on stderr, for a look inside the whole-process figure bench/compare takes.
export function phaseTimer() {
  let last = process.hrtime.bigint();
  const parts = [];
  return {
    mark(name) {
      const now = process.hrtime.bigint();
      parts.push(`${name} ${(Number(now - last) / 1e9).toFixed(3)} s`);
      last = now;
    },
    report(engine) {
      process.stderr.write(`${engine}: ${parts.join(', ')}\n`);
    },
  };
}
