"""The batch's index page: a row per image linking its report, the status in
words, every value escaped, and the page put in place whole."""
import html.parser
import os

import pytest

from bfsscan import html_index


class Rows(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.rows, self.row, self.cell, self.tags = [], None, None, []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        if tag == 'tr':
            self.row = {'cells': [], 'href': None}
        elif tag == 'td':
            self.cell = ''
        elif tag == 'a' and self.row is not None:
            self.row['href'] = dict(attrs)['href']

    def handle_endtag(self, tag):
        if tag == 'td':
            self.row['cells'].append(self.cell)
            self.cell = None
        elif tag == 'tr' and self.row['cells']:
            self.rows.append(self.row)

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


@pytest.mark.parametrize('label,row,cells,href', [
    ('complete', {'id': 'disk1', 'status': 0, 'file_systems': 2, 'files': 10,
                  'verification': 'EWF: verified', 'duration': 75.0},
     ['disk1', '0: complete', '2', '10', 'EWF: verified', '1 min 15 s'], './disk1/report.html'),
    ('hostile id', {'id': '<b>"x"&\x01', 'status': 2, 'file_systems': 1, 'files': 0,
                    'verification': '', 'duration': 0.25},
     ['<b>"x"&\\x01', '2: incomplete: something could not be read or extracted', '1', '0', '',
      '0.2 s'], './%3Cb%3E%22x%22%26%01/report.html'),
    ('interrupted', {'id': 'c', 'status': 130, 'file_systems': 0, 'files': 0, 'duration': 3600},
     ['c', '130: interrupted', '0', '0', '', '1 h 00 min 00 s'], './c/report.html'),
    ('not run', {'id': 'd', 'status': None, 'report': 'elsewhere/d.html'},
     ['d', 'not run', '', '', '', ''], './elsewhere/d.html'),
])
def test_index_rows(tmp_path, label, row, cells, href):
    path = html_index.write_index(str(tmp_path), [row], title='case <1>')
    assert path == os.path.join(str(tmp_path), 'index.html')
    assert os.listdir(str(tmp_path)) == ['index.html'], label
    page = open(path, encoding='utf-8').read()
    parsed = Rows()
    parsed.feed(page)
    assert [r['cells'] for r in parsed.rows] == [cells], label
    assert parsed.rows[0]['href'] == href, label
    assert parsed.tags.count('script') == 1 and 'b' not in parsed.tags, label
    assert '<h1>case &lt;1&gt;</h1>' in page
