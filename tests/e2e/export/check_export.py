"""Reads the tree's exports with outside readers: the HTML table and the
clipboard's "HTML Format" with html.parser, the CSV and the Unicode text
with the csv module. Every cell must read back as the tree holds it."""
import csv
import io
import sys
from html.parser import HTMLParser

golden = sys.argv[1]

HEADER = ["Name", "Size & <Count>", 'Note "q", more']
ROWS = [
    ['\u00c4lpha, "quoted"', "1,024", "caf\u00e9"],
    ["Tab\there", "", "line\r\nbreak"],
    ["<b>&x</b>", "3", '"start'],
    ["\u65e5\u672c\u8a9e \U0001F600", "\u00bd", "back\\slash {x}"],
]
LEVELS = [0, 1, 2, 0]
MAX_LEVEL = 2
failures = []


def check(name, got, want):
    if got != want:
        failures.append(f"{name}: got {got!r}, want {want!r}")


class Table(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.cell, self.attrs = [], None, []

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag in ("td", "th"):
            self.cell = ""
            self.attrs.append(dict(attrs))
        elif tag == "table":
            self.table = dict(attrs)

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def check_table(name, html, caption):
    t = Table()
    t.feed(html)
    t.close()
    check(name + " header", t.rows[0], HEADER)
    for i, (row, level) in enumerate(zip(ROWS, LEVELS)):
        # One indentation cell (a no-break space) per level before the main text.
        check(f"{name} row {i}", t.rows[i + 1], ["\xa0"] * level + row)
    check(name + " rows", len(t.rows), 1 + len(ROWS))
    check(name + " caption", t.table.get("caption"), caption)
    styles = [a["style"] for a in t.attrs if "style" in a]
    check(name + " inline style", styles, ['{font: bold 10pt "Arial";color:#FF0000;}'])


with open(f"{golden}/export.html", "rb") as f:
    check_table("html", f.read().decode("utf-8"), 'Caption "<&>"')

with open(f"{golden}/export_cfhtml.html", "rb") as f:
    data = f.read()
head = dict(line.split(":", 1) for line in data[:97].decode("ascii").split("\r\n") if ":" in line)
start_html, end_html = int(head["StartHTML"]), int(head["EndHTML"])
start_frag, end_frag = int(head["StartFragment"]), int(head["EndFragment"])
check("cf_html end", end_html, len(data))
check("cf_html document", (data[start_html:start_html + 9], data[end_html - 7:end_html]), (b"<!DOCTYPE", b"</html>"))
check("cf_html before fragment", data[start_frag - 20:start_frag], b"<!--StartFragment-->")
check("cf_html after fragment", data[end_frag:end_frag + 18], b"<!--EndFragment-->")
check_table("cf_html fragment", data[start_frag:end_frag].decode("utf-8"), None)


def check_separated(name, text, delimiter, encodable):
    rows = list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))
    check(name + " header", rows[0], [HEADER[0]] + [""] * MAX_LEVEL + HEADER[1:])
    for i, (row, level) in enumerate(zip(ROWS, LEVELS)):
        cells = [encodable(c) for c in row]
        want = [""] * level + [cells[0]] + [""] * (MAX_LEVEL - level) + cells[1:]
        check(f"{name} row {i}", rows[i + 1], want)


def cp1252(s):
    # The system's conversion gives one "?" per UTF-16 unit it cannot map.
    units = "".join(c if ord(c) < 0x10000 else "??" for c in s)
    return units.encode("cp1252", "replace").decode("cp1252")


with open(f"{golden}/export_comma.csv", "rb") as f:
    check_separated("csv", f.read().decode("cp1252"), ",", cp1252)
with open(f"{golden}/export_tab.txt", "rb") as f:
    check_separated("text", f.read().decode("cp1252"), "\t", cp1252)
for sep, file in ((",", "export_unicode_comma.txt"), ("\t", "export_unicode_tab.txt")):
    with open(f"{golden}/{file}", "rb") as f:
        check_separated(file, f.read().decode("utf-16-le"), sep, lambda s: s)

for line in failures:
    print(line)
print("exports read back:", "FAILED" if failures else "ok")
sys.exit(1 if failures else 0)
