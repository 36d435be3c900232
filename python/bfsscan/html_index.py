"""The case's index page of a batch: DIR/index.html, one row per image
linking the image's own report (DIR/ID/report.html), self-contained (style
and script inline), readable without JavaScript and sortable and filterable
with it. Every value is escaped: an image id or a path is never markup.
"""
import html
import os
import tempfile
import urllib.parse

# The meanings of the exit statuses, as the reports of the images give them.
STATUS_WORDS = {
    0: 'complete',
    1: 'wrong command line',
    2: 'incomplete: something could not be read or extracted',
    3: 'inconsistent: a file system broke a consistency condition',
}

COLUMNS = ('Image', 'Status', 'File systems', 'Files', 'Verification', 'Duration')

_STYLE = (
    "body{font-family:'DejaVu Sans',Verdana,sans-serif;font-size:14px;color:#222;margin:1em 2em}"
    "table{border-collapse:collapse}th,td{border:1px solid #ccc;padding:2px 8px;text-align:left}"
    "th{background:#eee;cursor:pointer}td.n{text-align:right}"
    ".bad{color:#b33}.good{color:#00734d}input{width:20em;margin:.4em 0}")

_SCRIPT = r"""(function () {
  var table = document.getElementById('images');
  if (!table) return;
  var body = table.tBodies[0];
  var input = document.createElement('input');
  input.type = 'search';
  input.placeholder = 'Filter images';
  table.parentNode.insertBefore(input, table);
  input.addEventListener('input', function () {
    var q = input.value.toLowerCase();
    Array.prototype.forEach.call(body.rows, function (row) {
      row.hidden = q !== '' && row.textContent.toLowerCase().indexOf(q) < 0;
    });
  });
  Array.prototype.forEach.call(table.tHead.rows[0].cells, function (th, col) {
    var dir = 1;
    th.addEventListener('click', function () {
      var rows = Array.prototype.slice.call(body.rows);
      rows.sort(function (a, b) {
        var x = a.cells[col].getAttribute('data-v') || a.cells[col].textContent;
        var y = b.cells[col].getAttribute('data-v') || b.cells[col].textContent;
        var nx = parseFloat(x), ny = parseFloat(y);
        if (!isNaN(nx) && !isNaN(ny)) { x = nx; y = ny; }
        return x < y ? -dir : x > y ? dir : 0;
      });
      dir = -dir;
      rows.forEach(function (row) { body.appendChild(row); });
    });
  });
})();"""


def status_words(status):
    """The exit status of an image's run in words."""
    if status is None:
        return 'not run'
    status = int(status)
    if status > 128:
        return 'interrupted'
    return STATUS_WORDS.get(status, 'status %d' % status)


def _text(value):
    """Any value as HTML text: control characters shown as \\xHH."""
    if value is None:
        return ''
    if isinstance(value, bytes):
        value = value.decode('utf-8', 'backslashreplace')
    value = str(value)
    shown = ''.join(c if c >= ' ' and c != '\x7f' else '\\x%02x' % ord(c) for c in value)
    return html.escape(shown, quote=True)


def _duration(seconds):
    if seconds is None:
        return ''
    seconds = float(seconds)
    if seconds < 60:
        return '%.1f s' % seconds
    minutes, rest = divmod(int(round(seconds)), 60)
    hours, minutes = divmod(minutes, 60)
    return '%d h %02d min %02d s' % (hours, minutes, rest) if hours else '%d min %02d s' % (minutes, rest)


def render_index(rows, title='bfsscan case'):
    """The page, as text. rows: mappings with the keys id, status (the exit
    status, or None), file_systems, files, verification (text, may be empty)
    and duration (seconds); report (the page's path relative to the index,
    default ID/report.html) is optional."""
    out = ['<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n',
           '<title>%s</title>\n<style>%s</style>\n</head>\n<body>\n' % (_text(title), _STYLE),
           '<h1>%s</h1>\n<p>%d image%s.</p>\n' % (_text(title), len(rows), '' if len(rows) == 1 else 's'),
           '<table id="images">\n<thead><tr>%s</tr></thead>\n<tbody>\n'
           % ''.join('<th>%s</th>' % c for c in COLUMNS)]
    for row in rows:
        ident = str(row['id'])
        report = row.get('report') or ident + '/report.html'
        href = './' + urllib.parse.quote(report.replace(os.sep, '/'), safe='/-._~')
        status = row.get('status')
        cls = 'good' if status == 0 else 'bad'
        out.append(
            '<tr><td><a href="%s">%s</a></td><td class="%s" data-v="%s">%s</td>'
            '<td class="n">%s</td><td class="n">%s</td><td>%s</td><td class="n" data-v="%s">%s</td></tr>\n'
            % (html.escape(href, quote=True), _text(ident), cls, _text(status),
               _text(('%s: ' % status if status is not None else '') + status_words(status)),
               _text(row.get('file_systems', '')), _text(row.get('files', '')),
               _text(row.get('verification', '')), _text(row.get('duration', '')),
               _text(_duration(row.get('duration')))))
    out.append('</tbody>\n</table>\n<script>%s</script>\n</body>\n</html>\n' % _SCRIPT)
    return ''.join(out)


def write_index(directory, rows, title='bfsscan case'):
    """Writes DIRECTORY/index.html through a temporary name renamed into
    place; returns its path."""
    path = os.path.join(directory, 'index.html')
    fd, temp = tempfile.mkstemp(prefix='.index.html.', dir=directory)
    try:
        with os.fdopen(fd, 'w', encoding='utf-8') as f:
            f.write(render_index(rows, title))
        os.chmod(temp, 0o644)
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.unlink(temp)
        raise
    return path
