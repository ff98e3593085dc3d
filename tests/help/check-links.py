#!/usr/bin/env python3
"""check-links.py HELP-DIR

The help page opens from the plug-in's folder in whatever browser the user has, with no network:
every link and picture must be a relative path to a file of the help folder (and an anchor of
that page, where one is named), and nothing may be loaded from elsewhere or run as a script.
"""
import html.parser
import pathlib
import re
import sys
import urllib.parse

ROOT = pathlib.Path(sys.argv[1]).resolve()
LINK_ATTRIBUTES = {"href", "src", "srcset", "poster", "data", "action"}
problems = []


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []  # (line, url)
        self.anchors = set()
        self.scripts = []

    def handle_starttag(self, tag, attrs):
        line = self.getpos()[0]
        if tag == "script":
            self.scripts.append(line)
        for name, value in attrs:
            if name in ("id", "name") and value:
                self.anchors.add(value)
            elif name.startswith("on"):
                self.scripts.append(line)
            elif name in LINK_ATTRIBUTES and value is not None:
                urls = [part.split()[0] for part in value.split(",") if part.strip()] if name == "srcset" else [value]
                self.links.extend((line, url) for url in urls)
            elif name == "style" and value:
                self.links.extend((line, url) for url in css_urls(value))


def css_urls(text):
    found = re.findall(r"url\(\s*(['\"]?)(.*?)\1\s*\)", text)
    found += re.findall(r"@import\s+(['\"])(.*?)\1", text)
    return [url for _, url in found]


pages = {}
for path in sorted(ROOT.rglob("*.html")):
    page = Page()
    page.feed(path.read_text(encoding="utf-8"))
    pages[path] = page


def check(source, line, url):
    where = f"{source.relative_to(ROOT)}:{line}"
    parts = urllib.parse.urlsplit(url)
    if parts.scheme or parts.netloc or url.startswith("/") or "\\" in url:
        problems.append(f"{where}: not a relative link: {url}")
        return
    target = source if not parts.path else (source.parent / urllib.parse.unquote(parts.path)).resolve()
    if not target.is_relative_to(ROOT):
        problems.append(f"{where}: leaves the help folder: {url}")
    elif not target.is_file():
        problems.append(f"{where}: no such file: {url}")
    elif parts.fragment and target.suffix == ".html":
        if urllib.parse.unquote(parts.fragment) not in pages[target].anchors:
            problems.append(f"{where}: no anchor #{parts.fragment} in {target.relative_to(ROOT)}")


if not (ROOT / "index.html").is_file():
    problems.append("index.html is missing")
for path, page in pages.items():
    for line in page.scripts:
        problems.append(f"{path.relative_to(ROOT)}:{line}: a script")
    for line, url in page.links:
        check(path, line, url)
for path in sorted(ROOT.rglob("*.css")):
    for url in css_urls(path.read_text(encoding="utf-8")):
        check(path, 0, url)

for problem in problems:
    print(problem, file=sys.stderr)
print(f"{len(pages)} pages checked, {len(problems)} problems")
sys.exit(1 if problems else 0)
