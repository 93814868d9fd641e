#!/usr/bin/env python3
"""Renders docs/operator-guide.md as one HTML file with its pictures inside
(data: URLs), for the release zip and the installer, where a PC may have no
Markdown viewer. Handles what the guide uses: headings (with the anchors its
links name), paragraphs, bullet and numbered lists, tables, indented code,
pictures, links, bold, italics and code spans.

    tools/guide-html.py docs/operator-guide.md OUT.html
"""
import base64
import html
import os
import re
import sys


def slug(title):
    return re.sub(r"[^\w\- ]", "", title.lower()).replace(" ", "-")


def inline(text, folder):
    def picture(m):
        with open(os.path.join(folder, m.group(2)), "rb") as f:
            data = base64.b64encode(f.read()).decode()
        return f'<img alt="{m.group(1)}" src="data:image/png;base64,{data}">'

    parts = re.split(r"(`[^`]*`)", text)
    out = []
    for part in parts:
        if part.startswith("`") and part.endswith("`") and len(part) > 1:
            out.append(f"<code>{html.escape(part[1:-1])}</code>")
            continue
        part = html.escape(part, quote=False)
        part = re.sub(r"!\[([^\]]*)\]\(([\w.-]+\.png)\)", picture, part)
        part = re.sub(r"\[([^\]]+)\]\(([^)\s]+)\)", r'<a href="\2">\1</a>', part)
        part = re.sub(r"\*\*([^*]+)\*\*", r"<strong>\1</strong>", part)
        part = re.sub(r"(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])", r"<em>\1</em>", part)
        out.append(part)
    return "".join(out)


def render(lines, folder):
    out, i = [], 0

    def block_end(j, indent):
        """Index past the lines that belong to a block indented by indent."""
        while j < len(lines) and (not lines[j].strip() or len(lines[j]) - len(lines[j].lstrip()) >= indent):
            if not lines[j].strip() and (j + 1 >= len(lines) or len(lines[j + 1]) - len(lines[j + 1].lstrip()) < indent):
                break
            j += 1
        return j

    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif m := re.match(r"(#+) (.*)", line):
            level, title = len(m.group(1)), m.group(2)
            out.append(f'<h{level} id="{slug(title)}">{inline(title, folder)}</h{level}>')
            i += 1
        elif line.startswith("    "):
            end = block_end(i, 4)
            code = "\n".join(l[4:] for l in lines[i:end]).rstrip()
            out.append(f"<pre>{html.escape(code)}</pre>")
            i = end
        elif line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                cells = [c.strip() for c in re.split(r"(?<!\\)\|", lines[i].strip())[1:-1]]
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            head = "".join(f"<th>{inline(c, folder)}</th>" for c in rows[0])
            body = "".join("<tr>" + "".join(f"<td>{inline(c, folder)}</td>" for c in r) + "</tr>" for r in rows[1:])
            out.append(f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>")
        elif m := re.match(r"(- |\d+\. )", line):
            tag = "ul" if line.startswith("- ") else "ol"
            items = []
            while i < len(lines) and re.match(r"(- |\d+\. )", lines[i]):
                marker = len(re.match(r"(- |\d+\. )", lines[i]).group(1))
                end = block_end(i + 1, marker)
                body = [lines[i][marker:]] + [l[marker:] for l in lines[i + 1:end]]
                items.append(render(body, folder))
                i = end
                while i < len(lines) and not lines[i].strip() and i + 1 < len(lines) and \
                        re.match(r"(- |\d+\. )", lines[i + 1]):
                    i += 1
            out.append(f"<{tag}>" + "".join(f"<li>{item}</li>" for item in items) + f"</{tag}>")
        else:
            para = []
            # A number that ends a sentence at the start of a line is no list.
            while i < len(lines) and lines[i].strip() and not re.match(r"(#+ |\||- |1\. |    )", lines[i]):
                para.append(lines[i].strip())
                i += 1
            out.append(f"<p>{inline(' '.join(para), folder)}</p>")
    return "\n".join(out)


def main():
    source, target = sys.argv[1:3]
    with open(source, encoding="utf-8") as f:
        lines = f.read().split("\n")
    title = re.sub(r"^# ", "", lines[0])
    body = render(lines, os.path.dirname(os.path.abspath(source)))
    style = ("body{font-family:Segoe UI,Arial,sans-serif;max-width:60em;margin:2em auto;line-height:1.4}"
             "table{border-collapse:collapse}td,th{border:1px solid #999;padding:.3em;vertical-align:top}"
             "pre,code{font-family:Consolas,monospace;background:#f3f3f3}pre{padding:.5em;overflow-x:auto}")
    with open(target, "w", encoding="utf-8") as f:
        f.write(f'<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
                f"<title>{html.escape(title)}</title>\n<style>{style}</style>\n</head>\n<body>\n{body}\n</body>\n</html>\n")


if __name__ == "__main__":
    main()
