#!/usr/bin/env python3
"""Random mutants over src/, for scripts/mutants.sh --random.

Every mutable site of the daemon's source is listed: operator flips, integer
and floating constants one up or one down, changed return values, deleted
calls and negated conditions. A seed shuffles the list; the first N mutants
that build are planted one at a time in a copy of the tree and the suite runs
against each until its first failure. A failing test is run once more with
the mutant in place, so that only a kill that repeats counts. Mutants listed
in scripts/mutants-unobservable.txt change nothing anything outside the
daemon's process can see; they are drawn but neither run nor scored.

    mutants_random.py --count N --seed S [--build DIR]   run a draw
    mutants_random.py --list                               print every site (and
                                                           stale list entries)
    mutants_random.py --rescore LOG                        a draw's summary again,
                                                           with the list as it is now
    mutants_random.py --sync TREE                          bring a copy of the
                                                           checkout up to date
"""
import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
UNOBSERVABLE = os.path.join(ROOT, "scripts", "mutants-unobservable.txt")

FLIPS = {
    "<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
    "&&": "||", "||": "&&", "+": "-", "-": "+", "*": "/", "/": "*", "%": "*",
    "&": "|", "|": "&", "^": "|", "<<": ">>", ">>": "<<", "++": "--", "--": "++",
    "+=": "-=", "-=": "+=", "|=": "&=", "&=": "|=",
}
OPERATOR = re.compile(r"<<=|>>=|<=|>=|==|!=|&&|\|\||<<|>>|\+\+|--|\+=|-=|\|=|&=|->|::|[<>+\-*/%&|^]")
NUMBER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+\.\d*|\d+)([uUlLfF]*)(?![\w.])")
CALL = re.compile(r"(\(void\)\s*)?(::)?[A-Za-z_]\w*((\.|->|::)[A-Za-z_]\w*)*\s*\(")
KEYWORDS = {"if", "for", "while", "switch", "return", "sizeof", "static_assert", "case", "else",
            "do", "new", "delete", "alignof", "decltype", "catch"}


def mask(text):
    """TEXT with comments and string and character literals blanked (newlines kept)."""
    out = list(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out[i] = " "
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for k in range(i, end):
                out[k] = out[k] if text[k] == "\n" else " "
            i = end
        elif c in "\"'":
            k = i + 1
            while k < n and text[k] != c:
                k += 2 if text[k] == "\\" else 1
            for j in range(i + 1, min(k, n)):
                out[j] = out[j] if text[j] == "\n" else " "
            i = k + 1
        else:
            i += 1
    # Preprocessor lines are no code to mutate.
    code = "".join(out)
    return re.sub(r"(?m)^[ \t]*#.*$", lambda m: " " * len(m.group(0)), code)


def matching(code, open_at):
    """Index of the parenthesis closing the one at OPEN_AT, or -1."""
    depth = 0
    for k in range(open_at, len(code)):
        if code[k] == "(":
            depth += 1
        elif code[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def number_text(literal, delta):
    body, suffix = literal
    if body.lower().startswith("0x"):
        value = int(body, 16) + delta
        if value < 0:
            return None
        digits = format(value, "x")
        digits = digits.upper() if any(ch in "ABCDEF" for ch in body[2:]) else digits
        return body[:2] + digits + suffix
    if "." in body:
        return repr(float(body) + delta) + suffix
    value = int(body) + delta
    return None if value < 0 else str(value) + suffix


def sites_of(path, text):
    """Every mutant of one file: (start, end, replacement, kind, description)."""
    code = mask(text)
    found = []

    for m in OPERATOR.finditer(code):
        op = m.group(0)
        if op not in FLIPS:
            continue
        before = code[m.start() - 1] if m.start() > 0 else "\n"
        after = code[m.end()] if m.end() < len(code) else "\n"
        if op in ("++", "--"):
            ok = before.isalnum() or before in "_)]" or after.isalnum() or after == "_"
        else:
            # Binary operators stand between blanks in formatted code; unary
            # ones, pointers, references and template brackets do not.
            ok = before in " \n" and after in " \n"
        if ok:
            found.append((m.start(), m.end(), FLIPS[op], "operator", f"{op!r} -> {FLIPS[op]!r}"))

    for m in NUMBER.finditer(code):
        for delta in (1, -1):
            new = number_text((m.group(1), m.group(2)), delta)
            if new is not None:
                found.append((m.start(), m.end(), new, "constant", f"{m.group(0)!r} -> {new!r}"))

    for m in re.finditer(r"\breturn\b([^;]*);", code):
        start, end = m.start(1), m.end(1)
        expr = text[start:end].strip()
        # A number returned is a constant, and mutated as one.
        if not expr or expr.startswith("{") or re.fullmatch(r"-?\d+", expr):
            continue
        new = {"true": "false", "false": "true"}.get(expr, "0")
        if new != expr:
            found.append((start, end, " " + new, "return", f"return {expr!r} -> {new!r}"))

    for m in re.finditer(r"(?m)^[ \t]*", code):
        s = m.end()
        call = CALL.match(code, s)
        if not call or code[s:call.end()].split("(")[0].strip().split(".")[0] in KEYWORDS:
            continue
        prev = code[:m.start()].rstrip()
        if prev and prev[-1] not in ";{}":
            continue
        close = matching(code, call.end() - 1)
        tail = code[close + 1:close + 40].lstrip() if close > 0 else ""
        if not tail.startswith(";"):
            continue
        end = code.index(";", close) + 1
        gone = "\n" * text[s:end].count("\n")
        first = text[s:end].split("\n")[0].strip()
        found.append((s, end, gone, "delete", f"call {first!r} deleted"))

    for m in re.finditer(r"\b(if|while)\s*\(", code):
        close = matching(code, m.end() - 1)
        if close < 0:
            continue
        inner = text[m.end():close]
        short = " ".join(inner.split())
        found.append((m.end(), close, "!(" + inner + ")", "negate",
                      f"{m.group(1)} ({short}) negated"))

    out = []
    for start, end, new, kind, what in found:
        line = text.count("\n", 0, start) + 1
        col = start - (text.rfind("\n", 0, start) + 1) + 1
        out.append({"file": path, "start": start, "end": end, "new": new, "kind": kind,
                    "id": f"{path}:{line}:{col} {kind} {what}"})
    return out


def all_sites():
    sites = []
    for folder, _, names in sorted(os.walk(os.path.join(ROOT, "src"))):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                path = os.path.relpath(os.path.join(folder, name), ROOT)
                with open(os.path.join(ROOT, path)) as f:
                    sites += sites_of(path, f.read())
    seen, unique = set(), []
    for s in sites:
        if s["id"] not in seen:
            seen.add(s["id"])
            unique.append(s)
    return unique


def read_unobservable(ids):
    """The listed mutants and their reasons; warns of entries that name no site."""
    listed = {}
    if os.path.exists(UNOBSERVABLE):
        with open(UNOBSERVABLE) as f:
            for raw in f:
                line = raw.rstrip("\n")
                if not line.strip() or line.startswith("#"):
                    continue
                mutant, _, reason = line.partition("\t")
                if mutant not in ids:
                    print(f"mutants: stale entry in {UNOBSERVABLE}: {mutant}", file=sys.stderr)
                listed[mutant] = reason.strip()
    return listed


def run(cmd, log, **kw):
    with open(log, "w") as out:
        return subprocess.call(cmd, stdout=out, stderr=subprocess.STDOUT, **kw)


def copy_tree(tree):
    """Brings the copy of the checkout in which mutants are planted up to date
    with the checkout's files. A file whose content is unchanged keeps its
    modification time, so the build stays incremental; any other is written
    anew (a mutant left behind by a stopped run included), so it is rebuilt."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           check=True, capture_output=True).stdout.decode().split("\0")
    wanted = {f for f in files if f and os.path.isfile(os.path.join(ROOT, f))}
    for folder, _, names in os.walk(tree):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.relpath(path, tree) not in wanted:
                os.unlink(path)
    for rel in sorted(wanted):
        src, dst = os.path.join(ROOT, rel), os.path.join(tree, rel)
        with open(src, "rb") as f:
            content = f.read()
        if os.path.isfile(dst):
            with open(dst, "rb") as f:
                if f.read() == content:
                    continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(content)
        shutil.copymode(src, dst)


def failed_tests(log):
    with open(log) as f:
        return re.findall(r"^\s*\d+ - (\S+) ", f.read(), re.M)


def summary(seed, drawn, unbuilt, results):
    killed, survived = len(results["killed"]), len(results["survived"]) + len(
        results["unconfirmed"])
    print(f"\n=== seed {seed}: {drawn} drawn ({unbuilt} more did not build and were "
          f"not counted); {len(results['unobservable'])} unobservable; of the "
          f"{killed + survived} observable, killed {killed}, survived {survived}")
    for kind in ("survived", "unconfirmed", "unobservable"):
        for line in results[kind]:
            print(f"  {kind}: {line}")
    if killed + survived:
        print(f"score: {100.0 * killed / (killed + survived):.1f}% of observable mutants killed")


def rescore(log, listed):
    """The summary of an earlier draw's output LOG, with the list as it is now:
    mutants listed since are unobservable, whatever their verdict."""
    results = {"killed": [], "survived": [], "unobservable": [], "unconfirmed": []}
    seed = unbuilt = drawn = 0
    with open(log) as f:
        for line in f:
            m = re.match(r"(KILLED|SURVIVED|UNCONFIRMED|UNOBSERVABLE) +(.*?)(  \[.*\])?"
                         r"(  \(\d+ s\))?$", line.rstrip("\n"))
            if m:
                drawn += 1
                mutant, verdict = m.group(2), m.group(1).lower()
                if mutant in listed:
                    results["unobservable"].append(f"{mutant}: {listed[mutant]}")
                else:
                    results[verdict].append(mutant + (m.group(3) or ""))
            m = re.match(r"=== seed (\d+): .*\((\d+) more did not build", line)
            if m:
                seed, unbuilt = int(m.group(1)), int(m.group(2))
    summary(seed, drawn, unbuilt, results)
    return 0


def judge(suite, log):
    """Runs the suite to its first failure and reruns the failing tests: a kill
    when they fail again. A failure that does not repeat gets one more run of
    the whole suite; "unconfirmed" when no failure repeats."""
    failed = []
    for attempt in range(2):
        if run(suite + ["--stop-on-failure"], f"{log}.{attempt}.log") == 0:
            return ("survived" if attempt == 0 else "unconfirmed"), failed
        failed = failed_tests(f"{log}.{attempt}.log")
        again = "^(" + "|".join(re.escape(t) for t in failed) + ")$"
        if failed and run(suite + ["-R", again], f"{log}.{attempt}.again.log") != 0:
            return "killed", failed
    return "unconfirmed", failed


def main():
    # A stop puts the planted file back, like any other way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int)
    ap.add_argument("--seed", type=int)
    ap.add_argument("--build", default="build-mutants")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--rescore", metavar="LOG")
    ap.add_argument("--sync", metavar="TREE")
    args = ap.parse_args()
    if args.sync:
        copy_tree(os.path.abspath(args.sync))
        return 0

    sites = all_sites()
    listed = read_unobservable({s["id"] for s in sites})
    if args.list:
        for s in sites:
            print(s["id"])
        return 0
    if args.rescore:
        return rescore(args.rescore, listed)
    if args.count is None or args.seed is None:
        ap.error("--count and --seed are needed")
    random.Random(args.seed).shuffle(sites)

    build = os.path.abspath(args.build)
    tree, obj, logs = (os.path.join(build, d) for d in ("tree", "obj", "random"))
    copy_tree(tree)
    os.makedirs(logs, exist_ok=True)
    # A failing test keeps its board for a look, and one killed at its time
    # limit leaves it: the boards go into a directory of the run's own, emptied
    # after each mutant (its path short enough for the boards' socket paths).
    boards = os.environ["BOARDSIM_TMPDIR"] = os.path.join(build, "boards")
    shutil.rmtree(boards, ignore_errors=True)
    os.makedirs(boards)
    make = ["cmake", "--build", obj, "-j2"]
    suite = ["ctest", "--test-dir", obj, "-j2", "-LE", "soak", "--timeout", "120",
             "--output-on-failure"]
    run(["cmake", "-S", tree, "-B", obj, "-DPOWERBANK_SANITIZE="], os.path.join(logs, "cmake.log"))
    if run(make, os.path.join(logs, "build.log")) != 0:
        print(f"mutants: the unchanged tree does not build (see {logs}/build.log)", file=sys.stderr)
        return 2
    if run(suite, os.path.join(logs, "clean.log")) != 0:
        print(f"mutants: the suite fails without any mutant (see {logs}/clean.log)",
              file=sys.stderr)
        return 2
    print(f"mutants: {len(sites)} sites in src/, seed {args.seed}, drawing {args.count}",
          flush=True)

    results = {"killed": [], "survived": [], "unobservable": [], "unconfirmed": []}
    unbuilt = drawn = 0
    for s in sites:
        if drawn == args.count:
            break
        if s["id"] in listed:
            drawn += 1
            results["unobservable"].append(f"{s['id']}: {listed[s['id']]}")
            print(f"UNOBSERVABLE {s['id']}", flush=True)
            continue
        target = os.path.join(tree, s["file"])
        with open(target) as f:
            original = f.read()
        with open(target, "w") as f:
            f.write(original[:s["start"]] + s["new"] + original[s["end"]:])
        name = f"{drawn + 1:03d}"
        try:
            if run(make, os.path.join(logs, name + ".build.log")) != 0:
                unbuilt += 1
                continue
            drawn += 1
            started = time.time()
            verdict, failed = judge(suite, os.path.join(logs, name))
            if failed:
                s["id"] += "  [" + " ".join(failed) + "]"
            results[verdict].append(s["id"])
            print(f"{verdict.upper():12} {s['id']}  ({time.time() - started:.0f} s)", flush=True)
        finally:
            with open(target, "w") as f:
                f.write(original)
            shutil.rmtree(boards, ignore_errors=True)
            os.makedirs(boards)
    run(make, os.path.join(logs, "build.log"))

    summary(args.seed, drawn, unbuilt, results)
    return 0


if __name__ == "__main__":
    sys.exit(main())
