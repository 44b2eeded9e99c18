// The application's page: sheets as tabs, each a grid of the cells' display texts. Every text is
// put in with textContent, never as markup.
'use strict';

const state = { sheets: [], layout: [], active: 0, cells: new Map(), tds: new Map(), busy: 0 };
const $ = (id) => document.getElementById(id);

function showStatus(text, isError) {
  const status = $('status');
  status.textContent = text || '';
  status.className = isError ? 'error' : '';
}

window.addEventListener('error', (event) => showStatus('The page failed: ' + event.message, true));
window.addEventListener('unhandledrejection', (event) =>
  showStatus('The page failed: ' + (event.reason && event.reason.message || event.reason), true));

function setBusy(delta) {
  state.busy += delta;
  $('busy').hidden = state.busy === 0;
  document.body.setAttribute('aria-busy', state.busy > 0 ? 'true' : 'false');
}

// One call of the API; the reply's JSON, or an Error carrying the server's message.
async function call(method, path, body, contentType) {
  setBusy(1);
  try {
    const options = { method, credentials: 'same-origin', headers: {} };
    if (body !== undefined) {
      options.body = body;
      options.headers['Content-Type'] = contentType || 'application/json';
    }
    const response = await fetch(path, options);
    const type = response.headers.get('Content-Type') || '';
    if (!type.startsWith('application/json')) {
      if (!response.ok) throw new Error(path + ': the server answered ' + response.status);
      return { blob: await response.blob(), response };
    }
    const reply = await response.json();
    if (reply.changed) applyChanges(reply.changed);
    showDialogs(reply);
    if (!response.ok) throw new Error(reply.error || (path + ': status ' + response.status));
    return reply;
  } finally {
    setBusy(-1);
  }
}

function columnName(index) {
  let name = '';
  for (let n = index + 1; n > 0; n = Math.floor((n - 1) / 26)) {
    name = String.fromCharCode(65 + (n - 1) % 26) + name;
  }
  return name;
}

function sheetPrefix(name) {
  return /^[A-Za-z_][A-Za-z0-9_.]*$/.test(name) ? name : "'" + name.replace(/'/g, "''") + "'";
}

// "B3" as its 0-based row and column.
function cellPosition(address) {
  const [, letters, digits] = /^([A-Z]+)([0-9]+)$/.exec(address);
  let column = 0;
  for (const ch of letters) column = column * 26 + ch.charCodeAt(0) - 64;
  return { row: Number(digits) - 1, column: column - 1 };
}

function cellKey(sheet, row, column) {
  return sheetPrefix(sheet) + '!' + columnName(column) + (row + 1);
}

function editable(key) {
  const cell = state.cells.get(key);
  if (cell) return !cell.locked;
  return !state.layout[state.active].protected;
}

// The workbook's border styles as CSS borders: width and line.
const borderLines = {
  hair: '1px dotted', thin: '1px solid', medium: '2px solid', thick: '3px solid',
  dotted: '1px dotted', dashed: '1px dashed', dashDot: '1px dashed', dashDotDot: '1px dashed',
  mediumDashed: '2px dashed', mediumDashDot: '2px dashed', mediumDashDotDot: '2px dashed',
  slantDashDot: '2px dashed', double: '3px double',
};

// The cell's font, fill and borders; styles set through the object model, never as markup.
function paintLook(td, cell) {
  const font = (cell && cell.font) || {};
  td.style.fontWeight = font.bold ? 'bold' : '';
  td.style.fontStyle = font.italic ? 'italic' : '';
  td.style.textDecoration = font.underline ? 'underline' : '';
  td.style.textDecorationStyle = font.underline && font.underline.startsWith('double') ? 'double' : '';
  td.style.fontSize = font.size ? font.size + 'pt' : '';
  td.style.fontFamily = font.name ? '"' + font.name.replace(/["\\]/g, '\\$&') + '", sans-serif' : '';
  td.style.color = font.color || '';
  td.style.backgroundColor = (cell && cell.fill) || '';
  const border = (cell && cell.border) || {};
  for (const side of ['left', 'right', 'top', 'bottom']) {
    const line = border[side];
    const css = line && (borderLines[line.style] || '1px solid');
    td.style['border' + side[0].toUpperCase() + side.slice(1)] = css ? css + ' ' + line.color : '';
  }
}

function paint(td, key) {
  const cell = state.cells.get(key);
  td.textContent = cell ? cell.text : '';
  paintLook(td, cell);
  td.classList.toggle('number', !!cell && typeof cell.value === 'number');
  const canEdit = editable(key);
  td.classList.toggle('editable', canEdit);
  td.classList.toggle('locked', !canEdit);
  td.setAttribute('aria-readonly', canEdit ? 'false' : 'true');
}

function applyChanges(changed) {
  for (const cell of changed) {
    state.cells.set(cell.cell, cell);
    const td = state.tds.get(cell.cell);
    if (!td) continue;
    paint(td, cell.cell);
    td.classList.remove('changed');
    void td.offsetWidth;
    td.classList.add('changed');
  }
}

function showDialogs(reply) {
  const texts = (reply.dialogs || []).concat(reply.messages || []);
  if (texts.length === 0) return;
  $('dialog-text').textContent = texts.join('\n');
  $('dialog').hidden = false;
}

async function loadSheet(index) {
  state.active = index;
  const sheet = state.layout[index];
  for (const [i, tab] of Array.from($('tabs').children).entries()) {
    tab.classList.toggle('active', i === index);
  }
  const rows = Math.max(sheet.rows + 5, 20);
  const columns = Math.max(sheet.columns + 2, 8);
  const range = sheetPrefix(sheet.name) + '!A1:' + columnName(columns - 1) + rows;
  const reply = await call('GET', '/api/cells?range=' + encodeURIComponent(range));
  for (const cell of reply.cells) state.cells.set(cell.cell, cell);
  buildGrid(sheet, rows, columns);
}

function buildGrid(sheet, rows, columns) {
  const grid = $('grid');
  grid.replaceChildren();
  state.tds.clear();
  // Each column as wide as its longest text, within bounds.
  const widths = new Array(columns).fill(6);
  for (const [key, cell] of state.cells) {
    if (!key.startsWith(sheetPrefix(sheet.name) + '!')) continue;
    const column = key.slice(key.lastIndexOf('!') + 1).replace(/[0-9]+$/, '');
    let index = 0;
    for (const ch of column) index = index * 26 + ch.charCodeAt(0) - 64;
    if (index - 1 < columns) widths[index - 1] = Math.max(widths[index - 1], cell.text.length);
  }
  const group = document.createElement('colgroup');
  const corner = document.createElement('col');
  corner.style.width = '3em';
  group.appendChild(corner);
  for (let c = 0; c < columns; ++c) {
    const col = document.createElement('col');
    // The workbook's width in characters where it gives one, else one to fit the texts.
    const given = sheet.widths[columnName(c)];
    col.style.width = given !== undefined ? Math.round(given * 7 + 5) + 'px'
                                          : Math.min(Math.max(widths[c], 6), 40) * 0.6 + 1 + 'em';
    group.appendChild(col);
  }
  grid.appendChild(group);
  const head = document.createElement('tr');
  head.appendChild(document.createElement('th'));
  for (let c = 0; c < columns; ++c) {
    const th = document.createElement('th');
    th.textContent = columnName(c);
    head.appendChild(th);
  }
  grid.appendChild(head);
  // Merged areas: the first cell spans the area, the others are not drawn.
  const spans = new Map();
  const covered = new Set();
  for (const address of sheet.merges || []) {
    const [first, last] = address.split(':').map(cellPosition);
    if (covered.has(first.row + ',' + first.column)) continue;
    spans.set(first.row + ',' + first.column,
              { rows: last.row - first.row + 1, columns: last.column - first.column + 1 });
    for (let r = first.row; r <= last.row; ++r) {
      for (let c = first.column; c <= last.column; ++c) {
        if (r !== first.row || c !== first.column) covered.add(r + ',' + c);
      }
    }
  }
  for (let r = 0; r < rows; ++r) {
    const tr = document.createElement('tr');
    const th = document.createElement('th');
    th.textContent = String(r + 1);
    tr.appendChild(th);
    for (let c = 0; c < columns; ++c) {
      if (covered.has(r + ',' + c)) continue;
      const td = document.createElement('td');
      const span = spans.get(r + ',' + c);
      if (span) {
        td.rowSpan = span.rows;
        td.colSpan = span.columns;
      }
      const key = cellKey(sheet.name, r, c);
      td.dataset.cell = key;
      paint(td, key);
      state.tds.set(key, td);
      tr.appendChild(td);
    }
    grid.appendChild(tr);
  }
}

function startEdit(td) {
  const key = td.dataset.cell;
  if (!editable(key)) {
    showStatus(key + ' is locked: it cannot be changed.', true);
    return;
  }
  if (td.querySelector('input')) return;
  const input = document.createElement('input');
  const cell = state.cells.get(key);
  input.value = cell ? cell.text : '';
  td.textContent = '';
  td.appendChild(input);
  input.focus();
  input.select();
  let done = false;
  const finish = async (commit) => {
    if (done) return;
    done = true;
    const text = input.value;
    paint(td, key);
    if (!commit || text === (cell ? cell.text : '')) return;
    try {
      const value = text === '' ? null : text;
      await call('POST', '/api/cells', JSON.stringify({ set: { [key]: value } }));
      showStatus(key + ' changed.');
    } catch (error) {
      showStatus(error.message, true);
    }
  };
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') finish(true);
    if (event.key === 'Escape') finish(false);
  });
  input.addEventListener('blur', () => finish(true));
}

async function command(path, message) {
  try {
    await call('POST', path);
    showStatus(message);
  } catch (error) {
    showStatus(error.message, true);
  }
}

async function exportData() {
  try {
    const { blob, response } = await call('GET', '/api/export');
    const disposition = response.headers.get('Content-Disposition') || '';
    const match = /filename="([^"]+)"/.exec(disposition);
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = match ? match[1] : 'application.dat';
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    showStatus('The data was exported.');
  } catch (error) {
    showStatus(error.message, true);
  }
}

async function importData(file) {
  try {
    await call('POST', '/api/import', await file.arrayBuffer(), 'application/octet-stream');
    showStatus('The data was imported.');
  } catch (error) {
    showStatus(error.message, true);
  }
}

async function start() {
  $('grid').addEventListener('click', (event) => {
    const td = event.target.closest('td');
    if (td) startEdit(td);
  });
  $('undo').addEventListener('click', () => command('/api/undo', 'The last change was undone.'));
  $('calculate').addEventListener('click', () => command('/api/calculate', 'Calculated.'));
  $('manual').addEventListener('change', async (event) => {
    try {
      await call('POST', '/api/manual', JSON.stringify({ manual: event.target.checked }));
      showStatus(event.target.checked ? 'Manual calculation.' : 'Automatic calculation.');
    } catch (error) {
      showStatus(error.message, true);
    }
  });
  $('export').addEventListener('click', exportData);
  $('import').addEventListener('change', (event) => {
    const file = event.target.files[0];
    event.target.value = '';
    if (file) importData(file);
  });
  $('save').addEventListener('click', () => command('/api/save', 'The application was saved.'));
  $('about').addEventListener('click', () => command('/api/about', ''));
  $('agreement').addEventListener('click', () => command('/api/agreement', ''));
  $('dialog-close').addEventListener('click', () => { $('dialog').hidden = true; });
  try {
    const reply = await call('GET', '/api/sheets');
    state.sheets = reply.sheets;
    state.layout = reply.layout;
    $('manual').checked = reply.manual;
    $('export').hidden = !reply.dataExchange;
    $('import-label').hidden = !reply.dataExchange;
    $('save').hidden = !reply.save;
    reply.layout.forEach((sheet, index) => {
      const tab = document.createElement('button');
      tab.type = 'button';
      tab.textContent = sheet.name;
      tab.addEventListener('click', () => loadSheet(index).catch((e) => showStatus(e.message, true)));
      $('tabs').appendChild(tab);
    });
    if (reply.layout.length === 0) throw new Error('The application shows no sheet.');
    await loadSheet(0);
  } catch (error) {
    showStatus(error.message, true);
  }
}

document.addEventListener('DOMContentLoaded', start);
