#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""search and find of tuvel-mcp against ripgrep, an independent
implementation of the same rules, on a generated tree with nested ignore
files, hidden entries, links and globs: the set of (path, line) that search
gives must equal what `rg -n` gives with the matching flags, and find must
equal `rg --files -g`.

Usage: ripgrep_oracle.py TUVEL_MCP

Cases where we differ on purpose are left out, each with its reason:
RE2's \\w, \\b and \\d are ASCII where ripgrep's are Unicode; ripgrep lets any
.ignore match beat any .gitignore match and stops parent rules at a nested
.git; ripgrep's -g brings back ignored and hidden files, so glob cases run
with no_ignore and hidden on both sides."""

import json
import os
import shutil
import subprocess
import sys
import tempfile

FILES = {
    ".gitignore": "*.log\nbuild/\n/top-only.txt\n!keep.log\n# comment\n\\#literal.txt\nspaced.txt   \n",
    ".ignore": "secret/\n",
    "top-only.txt": "needle top\n",
    "#literal.txt": "needle hash\n",
    "spaced.txt": "needle spaced\n",
    "a.log": "needle log\n",
    "keep.log": "needle kept\n",
    "build/out.txt": "needle built\n",
    "secret/s.txt": "needle secret\n",
    "README.md": "# Title\nneedle in readme\nNEEDLE upper\nfoo.bar and fooXbar\n",
    "src/main.c": "int main() {\n  return needle(42);\n}\n// 123 digits\nalpha|beta\n",
    "src/util.h": "#define NEEDLE 1\nint needle_count;\n",
    "src/deep/er/x.h": "needle deep\ntab\there\n",
    "src/deep/.gitignore": "*.tmp\n!important.tmp\ner/\n",
    "src/deep/a.tmp": "needle tmp\n",
    "src/deep/important.tmp": "needle important\n",
    "src/deep/top-only.txt": "needle not anchored here\n",
    "src/gen/.ignore": "generated.c\n",
    "src/gen/generated.c": "needle generated\n",
    "src/gen/kept.c": "needle kept gen\n",
    ".hidden/h.txt": "needle hidden dir\n",
    ".dotfile": "needle dotfile\n",
    "docs/a b.txt": "space in name needle\n",
    "docs/crlf.txt": "needle crlf\r\nsecond\r\n",
    "docs/no-final-feed.txt": "first\nneedle last",
    "docs/utf8.txt": "caf\u00e9 needle \u00fcber\n",
    ".git/config": "needle in git\n",
    "vendor/lib.c": "needle vendor\n",
    "vendor/.gitignore": "*\n!*.c\n",
    "vendor/other.h": "needle other\n",
}

# (arguments of search, ripgrep flags)
SEARCHES = [
    ({"pattern": "needle"}, []),
    ({"pattern": "needle", "case_insensitive": True}, ["-i"]),
    ({"pattern": "NEEDLE|needle_count"}, []),
    ({"pattern": "^needle"}, []),
    ({"pattern": "last$"}, []),
    ({"pattern": "[0-9]{2,3}"}, []),
    ({"pattern": "foo.bar"}, []),
    ({"pattern": "foo.bar", "fixed_strings": True}, ["-F"]),
    ({"pattern": "alpha|beta", "fixed_strings": True}, ["-F"]),
    ({"pattern": "needle", "hidden": True}, ["--hidden"]),
    ({"pattern": "needle", "no_ignore": True}, ["--no-ignore"]),
    ({"pattern": "needle", "hidden": True, "no_ignore": True}, ["--hidden", "--no-ignore"]),
    ({"pattern": "needle", "path": "src"}, ["src"]),
    ({"pattern": "needle", "path": "src/deep"}, ["src/deep"]),
    ({"pattern": "needle", "glob": ["*.c"], "hidden": True, "no_ignore": True}, ["-g", "*.c", "--hidden", "--no-ignore"]),
    ({"pattern": "needle", "glob": ["!*.txt"], "hidden": True, "no_ignore": True},
     ["-g", "!*.txt", "--hidden", "--no-ignore"]),
    ({"pattern": "needle", "glob": ["src/**/*.h"], "hidden": True, "no_ignore": True},
     ["-g", "src/**/*.h", "--hidden", "--no-ignore"]),
    ({"pattern": "needle", "glob": ["*.h", "!deep/**"], "hidden": True, "no_ignore": True},
     ["-g", "*.h", "-g", "!deep/**", "--hidden", "--no-ignore"]),
    ({"pattern": ""}, []),
    ({"pattern": "x*"}, []),
    ({"pattern": "\\t"}, []),
]

FINDS = [
    # ripgrep's -g brings back ignored files: without it, "*" against the rules alone.
    ({"pattern": "*"}, []),
    ({"pattern": "*", "hidden": True}, ["--hidden"]),
    ({"pattern": "*.c", "hidden": True, "no_ignore": True}, ["-g", "*.c", "--hidden", "--no-ignore"]),
    ({"pattern": "**/*.h", "hidden": True, "no_ignore": True}, ["-g", "**/*.h", "--hidden", "--no-ignore"]),
    ({"pattern": "*.txt", "hidden": True, "no_ignore": True}, ["-g", "*.txt", "--hidden", "--no-ignore"]),
    ({"pattern": "src/**", "hidden": True, "no_ignore": True}, ["-g", "src/**", "--hidden", "--no-ignore"]),
    ({"pattern": "!*.md", "hidden": True, "no_ignore": True}, ["-g", "!*.md", "--hidden", "--no-ignore"]),
]


def make_tree(root):
    for path, text in FILES.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8", newline="") as f:
            f.write(text)
    os.symlink("src", os.path.join(root, "link-dir"))
    os.symlink("README.md", os.path.join(root, "link-file"))
    with open(os.path.join(root, "binary.dat"), "wb") as f:
        f.write(b"needle\0binary\n")


def ripgrep(root, flags, files=False):
    base = ["rg", "--no-config", "--no-require-git", "--no-ignore-global", "--color", "never"]
    if files:
        args = base + ["--files"] + flags
    else:
        paths = [f for f in flags if not f.startswith("-") and os.path.exists(os.path.join(root, f))
                 and flags[flags.index(f) - 1] != "-g"]
        options = [f for f in flags if f not in paths]
        args = base + ["-n", "--no-heading", "--with-filename"] + options + ["-e", PATTERN[0]] + paths
    done = subprocess.run(args, cwd=root, stdin=subprocess.DEVNULL, capture_output=True)
    if done.returncode not in (0, 1):
        raise SystemExit(f"rg failed: {args}: {done.stderr.decode()}")
    out = set()
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        if files:
            path = line
        else:
            path, number, _ = line.split(":", 2)
        if path.startswith("./"):
            path = path[2:]
        if path == ".git" or path.startswith(".git/"):
            continue  # --hidden enters .git; we never do
        out.add(path if files else (path, int(number)))
    return out


PATTERN = [""]


class Session:
    def __init__(self, binary, root):
        self.proc = subprocess.Popen([binary, "--repo", root], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.id = 0
        self.call_raw("initialize", {"protocolVersion": "2025-11-25", "capabilities": {},
                                     "clientInfo": {"name": "oracle", "version": "1"}})

    def call_raw(self, method, params):
        self.id += 1
        line = json.dumps({"jsonrpc": "2.0", "id": self.id, "method": method, "params": params}) + "\n"
        self.proc.stdin.write(line.encode())
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def tool(self, name, arguments):
        """Every page of a search or find, joined."""
        pages = []
        arguments = dict(arguments)
        while True:
            answer = self.call_raw("tools/call", {"name": name, "arguments": arguments})["result"]
            if answer["isError"]:
                raise SystemExit(f"{name} {arguments}: {answer['structuredContent']}")
            data = answer["structuredContent"]
            pages.append(data)
            if data["next"] is None:
                return pages
            arguments["cursor"] = data["next"]

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def main():
    binary = sys.argv[1]
    if shutil.which("rg") is None:
        raise SystemExit("ripgrep (rg) is not installed: run scripts/setup")
    failures = 0
    with tempfile.TemporaryDirectory(prefix="tuvel-oracle-") as root:
        make_tree(root)
        session = Session(binary, root)
        for arguments, flags in SEARCHES:
            PATTERN[0] = arguments["pattern"]
            expected = ripgrep(root, flags)
            got = set()
            for max_results in (1000, 3):
                got = set()
                for page in session.tool("search", dict(arguments, max_results=max_results)):
                    for entry in page["files"]:
                        for match in entry["matches"]:
                            key = (entry["path"], match["line"])
                            if key in got:
                                print(f"repeated {key} for {arguments}")
                                failures += 1
                            got.add(key)
                if got != expected:
                    print(f"search {arguments} (max_results {max_results}):\n  only ours: {sorted(got - expected)}"
                          f"\n  only ripgrep's: {sorted(expected - got)}")
                    failures += 1
            counted = {}
            for page in session.tool("search", dict(arguments, output="files")):
                for entry in page["files"]:
                    counted[entry["path"]] = entry["count"]
            by_file = {}
            for path, _ in expected:
                by_file[path] = by_file.get(path, 0) + 1
            if counted != by_file:
                print(f"search {arguments} output files: {counted} != {by_file}")
                failures += 1
        for arguments, flags in FINDS:
            expected = ripgrep(root, flags, files=True)
            got = [entry["path"] for page in session.tool("find", arguments) for entry in page["files"]]
            if set(got) != expected or got != sorted(got, key=lambda p: p.encode()):
                print(f"find {arguments}:\n  only ours: {sorted(set(got) - expected)}"
                      f"\n  only ripgrep's: {sorted(expected - set(got))}")
                failures += 1
        session.close()
    if failures:
        raise SystemExit(f"{failures} differences from ripgrep")
    print(f"{len(SEARCHES)} searches and {len(FINDS)} finds agree with ripgrep")


if __name__ == "__main__":
    main()
