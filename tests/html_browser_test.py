#!/usr/bin/env python3
"""The HTML report in a real browser: headless Chromium opens the page from a
file, with any network access sent to a closed port, and what it shows is
read back from its DOM and a screenshot. Checks that the file tables hold one
row per file of the JSON Lines file, that a filter shows only the rows it
matches, that hostile names are text, that a link opens the extracted file,
and that the page is not blank. Skipped (status 77) where Chromium is missing.

Usage: html_browser_test.py BFSSCAN MKBFS
"""
import html.parser
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import urllib.parse
import zlib

HOSTILE = '<script>"&\x01'  # 11 bytes: a BFS name holds 14
HOSTILE_TEXT = '<script>"&\\x01'  # as the page shows it


def chromium():
    for name in (os.environ.get('CHROMIUM', ''), 'chromium', 'chromium-browser'):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


def browse(browser, profile, url, *args):
    """Runs headless Chromium on url with no way out to the network."""
    cmd = [browser, '--headless', '--no-sandbox', '--disable-gpu',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--no-first-run', '--proxy-server=socks5://127.0.0.1:9',
           # draw everything before the screenshot or the DOM is taken
           '--run-all-compositor-stages-before-draw', '--virtual-time-budget=10000',
           '--user-data-dir=' + profile, '--window-size=1200,900', *args, url]
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=240)
    assert r.returncode == 0, ('chromium failed', r.returncode)
    return r.stdout.decode('utf-8', 'replace')


class Dom(html.parser.HTMLParser):
    """The rows of the file tables, the scripts, and every attribute."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows = []  # dicts: class, hidden, cells (texts), hrefs
        self.scripts = 0
        self.attributes = []
        self.table = []  # classes of the open tables
        self.row = None
        self.cell = None

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.attributes.extend(attrs)
        if tag == 'script':
            self.scripts += 1
        elif tag == 'table':
            self.table.append(a.get('class', ''))
        elif tag == 'tr' and self.table and 'r-files' in self.table[-1] and 'class' in a:
            self.row = {'class': a['class'], 'hidden': 'hidden' in a, 'cells': [], 'hrefs': []}
        elif tag == 'td' and self.row is not None:
            self.cell = ''
        elif tag == 'a' and self.row is not None:
            self.row['hrefs'].append(a.get('href'))

    def handle_endtag(self, tag):
        if tag == 'table' and self.table:
            self.table.pop()
        elif tag == 'td' and self.row is not None and self.cell is not None:
            self.row['cells'].append(self.cell)
            self.cell = None
        elif tag == 'tr' and self.row is not None:
            self.rows.append(self.row)
            self.row = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def read_dom(text):
    dom = Dom()
    dom.feed(text)
    return dom


def png_colours(path, limit=64):
    """The number of distinct pixels of an 8-bit RGB or RGBA PNG, up to limit."""
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n'
    pos, idat, width = 8, b'', 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour = struct.unpack('>IIBB', body[:10])
            assert depth == 8 and colour in (2, 6), (depth, colour)
            bpp = 3 if colour == 2 else 4
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    seen = set()
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        for x in range(0, stride, bpp * 7):
            seen.add(bytes(line[x:x + bpp]))
        if len(seen) >= limit:
            break
        prev = line
    return len(seen)


def main():
    bfsscan, mkbfs = sys.argv[1], sys.argv[2]
    browser = chromium()
    if browser is None:
        print('SKIP: no chromium found: the HTML report is not checked in a browser')
        return 77
    work = tempfile.mkdtemp(prefix='html-browser-')
    try:
        os.chdir(work)
        files = {'notes': b'hello notes\n', HOSTILE: b'secret text\n', 'a&b': b'amp\n'}
        # More files than a page of rows shows at once.
        files.update({'f%04d' % i: b'%d\n' % i for i in range(520)})
        os.mkdir('in')
        for name, data in files.items():
            with open(os.path.join('in', name), 'wb') as f:
                f.write(data)
        subprocess.run([mkbfs, '--free-blocks', '2', '--marker', 'Z', 'disk.img'] +
                       [os.path.join('in', n) for n in files], check=True,
                       stdout=subprocess.DEVNULL)
        os.mkdir('case')
        r = subprocess.run([bfsscan, '--html=case/report.html', '--json=case/r.json',
                            '--hash=md5', '--unallocated', '-C', 'case/out', 'disk.img'],
                           stdout=subprocess.DEVNULL)
        assert r.returncode == 0, r.returncode
        records = [json.loads(line) for line in open('case/r.json')]
        json_files = [j for j in records if j['type'] == 'file']
        page = os.path.abspath('case/report.html')
        url = 'file://' + urllib.parse.quote(page)
        profile = os.path.join(work, 'profile')

        # The page refers to nothing outside itself but the extracted files.
        raw = read_dom(open(page, encoding='utf-8').read())
        assert raw.scripts == 1, raw.scripts
        for key, value in raw.attributes:
            assert key != 'src', (key, value)
            assert not (key == 'href' and ':' in value.split('/')[0]), value

        cases = [
            # label, filter, names expected shown (None: the first page of rows)
            ('no filter', '', None),
            ('a plain name', 'notes', {'notes'}),
            ('the hostile name as shown', HOSTILE_TEXT, {HOSTILE_TEXT}),
        ]
        for label, text, shown in cases:
            target = url + ('#filter=' + urllib.parse.quote(text) if text else '')
            dom = read_dom(browse(browser, profile, target, '--dump-dom'))
            files_rows = [row for row in dom.rows
                          if {'r-file', 'r-orphan'} & set(row['class'].split())]
            assert len(files_rows) == len(json_files), (label, len(files_rows), len(json_files))
            assert dom.scripts == 1, (label, dom.scripts)  # no name became a script
            visible = [row['cells'][2] for row in dom.rows if not row['hidden']]
            if shown is None:
                assert len(visible) == 500, (label, len(visible))
            else:
                assert set(visible) == shown, (label, len(visible), visible[:5])

        # The hostile name is text, and its link opens the extracted file.
        row = next(r for r in read_dom(open(page, encoding='utf-8').read()).rows
                   if r['cells'][2] == HOSTILE_TEXT)
        assert len(row['hrefs']) == 1, row
        target = urllib.parse.urljoin(url, row['hrefs'][0])
        local = urllib.parse.unquote_to_bytes(urllib.parse.urlparse(target).path)
        assert open(local, 'rb').read() == files[HOSTILE], local
        opened = browse(browser, profile, target, '--dump-dom')
        assert 'secret text' in opened, opened[:200]

        shot = os.path.join(work, 'shot.png')
        browse(browser, profile, url, '--screenshot=' + shot)
        colours = png_colours(shot)
        assert colours >= 8, ('the screenshot is blank', colours)
        print('ok: %d file rows, filters, hostile name, link, screenshot (%d colours)'
              % (len(json_files), colours))
        return 0
    finally:
        os.chdir('/')
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
