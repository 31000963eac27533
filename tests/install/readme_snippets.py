#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""readme_snippets.py README OUT_DIR

Writes the C++ and CMake code blocks of README.md out as sources that a host
would build against the installed package:
  - a ```cmake block becomes OUT_DIR/cmake-N/CMakeLists.txt, a project of its
    own, with every C++ block that starts with a "// NAME.cpp" line beside it
    as the file NAME.cpp;
  - the other ```cpp blocks are fragments that go on from one another (a later
    one uses the objects an earlier one made): they become one function in
    OUT_DIR/fragments/fragments.cpp, their #include lines at the top and
    each body in a block nested inside the one before, so that it sees the
    earlier names and may reuse one for a new object. Names that the README
    leaves to the reader are declared before them (see GIVEN).
Prints the folders written, one a line.
"""
import os
import re
import sys

# What the fragments take as given: the README says where these come from
# without showing it.
GIVEN = """CString password = "secret";  // read from the host's own settings
"""

FENCE = re.compile(r"^```(\w+)\s*$")


def blocks(text):
    """(language, lines) of every fenced block, in order."""
    out, lang, body = [], None, []
    for line in text.splitlines():
        if lang is None:
            m = FENCE.match(line)
            if m:
                lang, body = m.group(1), []
        elif line.startswith("```"):
            out.append((lang, body))
            lang = None
        else:
            body.append(line)
    if lang is not None:
        sys.exit("README: a code block is not closed")
    return out


def main():
    readme, out = sys.argv[1], sys.argv[2]
    found = blocks(open(readme, encoding="utf-8").read())
    named, fragments, projects = {}, [], []
    for lang, body in found:
        if lang == "cpp":
            m = re.match(r"^// (\w[\w.-]*\.cpp)\b", body[0]) if body else None
            if m:
                named[m.group(1)] = body
            else:
                fragments.append(body)
        elif lang == "cmake":
            projects.append(body)
    if not fragments or not projects:
        sys.exit("README: expected C++ fragments and a CMake project")

    folders = []
    for i, body in enumerate(projects, 1):
        folder = os.path.join(out, f"cmake-{i}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "CMakeLists.txt"), "w", encoding="utf-8") as f:
            f.write("\n".join(body) + "\n")
        for name, lines in named.items():
            with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
        folders.append(folder)

    includes, nested = [], []
    for body in fragments:
        code = []
        for line in body:
            if line.startswith("#include"):
                if line not in includes:
                    includes.append(line)
            else:
                code.append(line)
        nested.append(code)
    folder = os.path.join(out, "fragments")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "fragments.cpp"), "w", encoding="utf-8") as f:
        f.write("\n".join(includes) + "\n\n")
        f.write("// The usage requirements of the package ask for C++20.\n")
        f.write('static_assert(__cplusplus >= 202002L, "not compiled as C++20");\n\n')
        f.write("// Compiled and linked, never run: it would talk to the README's servers.\n")
        f.write("void readme_fragments() {\n" + GIVEN)
        for code in nested:
            f.write("{\n" + "\n".join(code) + "\n")
        f.write("}" * len(nested) + "\n}\n\nint main() { return 0; }\n")
    folders.append(folder)
    print("\n".join(folders))


main()
