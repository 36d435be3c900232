// The report's style sheet and script. Class names of the page start with
// "r-", apart from the map's own, so that the map's style (inline SVG shares
// the page's style sheets) and the page's never meet.
#include "html_assets.h"

const char kHtmlStyle[] =
    "body{font-family:'DejaVu Sans',Verdana,sans-serif;font-size:14px;color:#222;margin:1em 2em;"
    "background:#fff}"
    "h1{font-size:22px}h2{font-size:18px;margin-top:1.6em;border-bottom:1px solid #ccc}"
    "h3{font-size:15px}"
    "table{border-collapse:collapse;margin:.4em 0}"
    "th,td{border:1px solid #ccc;padding:2px 6px;text-align:left;vertical-align:top}"
    "th{background:#eee}"
    "table.r-kv th{width:14em}"
    "table.r-grid td{font-family:'DejaVu Sans Mono',monospace;font-size:12px;white-space:nowrap}"
    "table.r-grid th.r-sortable{cursor:pointer}"
    "table.r-grid th.r-asc::after{content:' \\25b2'}table.r-grid th.r-desc::after{content:' \\25bc'}"
    "tr.r-deleted td{background:#fdecea}tr.r-free td,tr.r-slack td{background:#f1e9f7}"
    "tr.r-orphan td{background:#fff6d5}tr.r-damaged td{background:#fbe3d5}"
    "tr.r-skipped td,tr.r-failed td{color:#a33}"
    ".r-status0{color:#00734d}.r-status2,.r-status3,.r-status-other{color:#b33}"
    ".r-map{overflow-x:auto;border:1px solid #ccc;margin:.6em 0}.r-map svg{max-width:100%;height:auto}"
    ".r-tools{margin:.4em 0}.r-tools input{width:20em}.r-tools button{margin-left:.4em}"
    ".r-note{color:#555}.r-scroll{overflow-x:auto}"
    "@media print{.r-tools{display:none}}";

// Plain DOM, no library. Rows are hidden with the hidden attribute: by the
// filter (data-r-out) and by paging.
const char kHtmlScript[] = R"JS((function () {
  'use strict';
  var PAGE = 500;
  var grids = [];
  function cellKey(row, col, numeric) {
    var cell = row.cells[col];
    var text = cell ? (cell.getAttribute('data-v') || cell.textContent) : '';
    if (!numeric) return text;
    var n = parseFloat(text);
    return isNaN(n) ? -Infinity : n;
  }
  function show(g) {
    var shown = 0, start = g.page * PAGE;
    for (var i = 0; i < g.rows.length; i++) {
      var row = g.rows[i];
      if (row.getAttribute('data-r-out') === '1') { row.hidden = true; continue; }
      row.hidden = !(shown >= start && shown < start + PAGE);
      shown++;
    }
    g.matching = shown;
    var last = Math.max(0, Math.ceil(shown / PAGE) - 1);
    g.info.textContent = shown === 0 ? 'no rows' :
        'rows ' + (start + 1) + '\u2013' + Math.min(shown, start + PAGE) + ' of ' + shown +
        (shown < g.rows.length ? ' (of ' + g.rows.length + ')' : '');
    g.prev.disabled = g.page === 0;
    g.next.disabled = g.page >= last;
  }
  function filter(g, text) {
    var q = text.toLowerCase();
    for (var i = 0; i < g.rows.length; i++) {
      var row = g.rows[i];
      row.setAttribute('data-r-out', q && row.textContent.toLowerCase().indexOf(q) < 0 ? '1' : '0');
    }
    g.page = 0;
    show(g);
  }
  function sort(g, th, col) {
    var numeric = th.classList.contains('r-n');
    var dir = th.classList.contains('r-asc') ? -1 : 1;
    var heads = g.table.tHead.rows[0].cells;
    for (var i = 0; i < heads.length; i++) heads[i].classList.remove('r-asc', 'r-desc');
    th.classList.add(dir > 0 ? 'r-asc' : 'r-desc');
    var keyed = g.rows.map(function (row, i) { return [cellKey(row, col, numeric), i, row]; });
    keyed.sort(function (a, b) {
      if (a[0] < b[0]) return -dir;
      if (a[0] > b[0]) return dir;
      return a[1] - b[1];
    });
    var body = g.table.tBodies[0];
    g.rows = keyed.map(function (k) { return k[2]; });
    var frag = document.createDocumentFragment();
    g.rows.forEach(function (row) { frag.appendChild(row); });
    body.appendChild(frag);
    g.page = 0;
    show(g);
  }
  function setUp(table) {
    if (!table.tBodies.length || !table.tHead) return;
    var g = {table: table, rows: Array.prototype.slice.call(table.tBodies[0].rows), page: 0};
    var tools = document.createElement('div');
    tools.className = 'r-tools';
    var input = document.createElement('input');
    input.type = 'search';
    input.placeholder = 'Filter rows';
    input.setAttribute('aria-label', 'Filter rows');
    g.prev = document.createElement('button');
    g.prev.textContent = 'Previous';
    g.next = document.createElement('button');
    g.next.textContent = 'Next';
    g.info = document.createElement('span');
    g.info.className = 'r-note';
    g.input = input;
    [input, g.prev, g.next, document.createTextNode(' '), g.info].forEach(function (n) {
      tools.appendChild(n);
    });
    table.parentNode.insertBefore(tools, table);
    var timer = null;
    input.addEventListener('input', function () {
      clearTimeout(timer);
      timer = setTimeout(function () { filter(g, input.value); }, 150);
    });
    g.prev.addEventListener('click', function () { g.page--; show(g); });
    g.next.addEventListener('click', function () { g.page++; show(g); });
    var heads = table.tHead.rows[0].cells;
    for (var i = 0; i < heads.length; i++) {
      (function (th, col) {
        th.classList.add('r-sortable');
        th.title = 'Sort by this column';
        th.addEventListener('click', function () { sort(g, th, col); });
      })(heads[i], i);
    }
    grids.push(g);
  }
  var tables = document.querySelectorAll('table.r-grid');
  for (var i = 0; i < tables.length; i++) setUp(tables[i]);
  var m = /(?:^#|&)filter=([^&]*)/.exec(location.hash);
  var initial = '';
  if (m) { try { initial = decodeURIComponent(m[1]); } catch (e) { initial = ''; } }
  grids.forEach(function (g) { g.input.value = initial; filter(g, initial); });
  document.documentElement.setAttribute('data-r-ready', '1');
})();)JS";
