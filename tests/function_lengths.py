#!/usr/bin/env python3
"""Every function body in the core (io/, wav/ and ops/, sources and headers) fits
on a screen: lists each one longer than the limit and fails if there is one.
Usage: function_lengths.py SOURCE_DIR [LIMIT]

A function's length runs from the line of its name to its closing brace.
The scan strips comments, literals and preprocessor lines, then matches braces:
namespace, class, struct, union, enum and extern blocks are opened and
searched, any other block after a parameter list is a function body (lambdas
and local classes count towards the function holding them), the rest (brace
initialisers) is skipped."""
import os
import re
import sys

FOLDERS = ("io", "wav", "ops")
SUFFIXES = (".cpp", ".h")
SCOPE = re.compile(r"^(?:template\s*<.*>\s*)?(?:namespace|class|struct|union|enum|extern)\b", re.S)


# The text with comments, string and character literals and preprocessor
# lines blanked out; the line breaks stay so that offsets keep their lines.
def strip(text):
    return re.sub(r"(?m)^[ \t]*#(?:.*\\\n)*.*", lambda m: re.sub(r"[^\n]", " ", m.group(0)), literals(text))


def literals(text):
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
        elif c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(c)  # a digit separator: 1'000'000
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j += 1
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:j]))
        i = j
    return "".join(out)


# The offset just past the brace that closes the one at `start`.
def close(code, start):
    depth = 0
    for k in range(start, len(code)):
        if code[k] == "{":
            depth += 1
        elif code[k] == "}":
            depth -= 1
            if depth == 0:
                return k + 1
    return len(code)


# The offset of the opening parenthesis matching the closing one at `end`.
def opening(code, end):
    depth = 0
    for k in range(end, -1, -1):
        if code[k] == ")":
            depth += 1
        elif code[k] == "(":
            depth -= 1
            if depth == 0:
                return k
    return 0


# Where a constructor's initialiser list starts in code[head:brace] (its
# colon), or `brace` when there is none.
def init_list(code, head, brace):
    depth = 0
    for k in range(head, brace):
        if code[k] in "([{":
            depth += 1
        elif code[k] in ")]}":
            depth -= 1
        elif code[k] == ":" and depth == 0 and code[k - 1] != ":" and code[k + 1] != ":" \
                and re.search(r"\)\s*(?:noexcept\s*)?$", code[head:k]):
            return k
    return brace


# The span of the name in the declaration code[head:brace]: the identifier
# before the parameter list, which is the last parenthesised group once a
# constructor's initialisers and the trailing qualifiers are set aside.
def name_of(code, head, brace):
    k = init_list(code, head, brace) - 1
    while True:
        while k > head and code[k].isspace():
            k -= 1
        tail = re.search(r"(?:\b(?:const|noexcept|override|final|mutable)|&&?|->[^()]*)$", code[head:k + 1])
        if not tail or not tail.group(0):
            break
        k = head + tail.start() - 1
    if code[k] != ")":
        return head, brace  # no parameter list found: the whole declaration
    k = opening(code, k) - 1
    while k > head and code[k].isspace():
        k -= 1
    stop = k + 1
    while k >= head and (code[k].isalnum() or code[k] in "_:~<>"):
        k -= 1
    m = re.search(r"\boperator\b.*$", code[head:stop])
    if m and not code[head:stop].endswith("operator"):
        return head + m.start(), stop
    return k + 1, stop


# (name, first line, last line) of each function defined in code[begin:end].
def functions(code, begin, end):
    found = []
    head = begin  # where the declaration before the next brace starts
    parens = 0  # braces inside parentheses are arguments, not bodies
    k = begin
    while k < end:
        c = code[k]
        if c == "(":
            parens += 1
        elif c == ")":
            parens -= 1
        elif c == "{" and parens > 0:
            k = close(code, k)
            continue
        elif c in ";}":
            head = k + 1
        elif c == ":" and code[k - 1] != ":" and code[k + 1:k + 2] != ":" and \
                re.search(r"\b(?:public|private|protected)\s*$", code[head:k]):
            head = k + 1
        elif c == "{":
            decl = code[head:k].strip()
            finish = close(code, k)
            if init_list(code, head, k) < k and re.search(r"[\w>]$", decl):
                k = finish  # a member's brace initialiser, the body is still to come
                continue
            if SCOPE.match(decl):
                found += functions(code, k + 1, finish - 1)
            elif ")" in decl and not re.search(r"=\s*$", decl):
                name = name_of(code, head, k)
                found.append((re.sub(r"\s+", "", code[name[0]:name[1]]),
                              code.count("\n", 0, name[0]) + 1,
                              code.count("\n", 0, finish - 1) + 1))
            k = finish
            head = k
            continue
        k += 1
    return found


def main():
    root = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 80
    long_ones = []
    for folder in FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith(SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8") as f:
                    code = strip(f.read())
                for func, first, last in functions(code, 0, len(code)):
                    if last - first + 1 > limit:
                        long_ones.append((last - first + 1, os.path.relpath(path, root), first, func))
    for length, path, line, func in sorted(long_ones, reverse=True):
        print(f"{path}:{line}: {func} is {length} lines (limit {limit})")
    return 1 if long_ones else 0


if __name__ == "__main__":
    sys.exit(main())
