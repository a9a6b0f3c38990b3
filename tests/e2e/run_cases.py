#!/usr/bin/env python3
"""Runs end-to-end cases against a built program and compares exact bytes.

The converter's cases are under cases/, the layout check's under check_cases/
(--cases picks the folder, --binary the program). A case is a directory:

  files/...         copied into a fresh temporary work directory
  args              the arguments, one per line (raw bytes; no line: none)
  cmd               instead of args: a shell command run by sh in the work
                    directory; $TABULON is the program (with its wrapper),
                    $TABULON_EXAMPLES the repository's examples/ directory
  expect/exit       the exit status (default 0)
  expect/stdout     exact standard output (missing: must be empty)
  expect/stderr     exact standard error (missing: must be empty)
  expect/files/...  files that must exist afterwards with exactly these bytes
  expect/absent     names (one per line) that must not exist afterwards
  expect/unchanged  names of input files that must be byte-identical afterwards
  skip_sanitized    present: the case is skipped when TABULON_SANITIZED is set
                    (memory limits cannot hold under AddressSanitizer); its
                    line says why, and is printed
  posix_only        present: the case is skipped for a Windows build (it needs
                    ulimit, flock, /dev/full or other POSIX behaviour)
  windows_only      present: the case runs only for a Windows build
  runs/<run>/       instead of the above: several runs of one scenario, each
                    a directory laid out like a case and run as one; the case
                    passes when every run does (runs may be posix_only or
                    windows_only on their own)

The build is taken for Windows when the binary's name ends in .exe, or when
TABULON_E2E_TARGET=windows is set (TABULON_E2E_TARGET=posix says the opposite).

Any file whose name ends in .utf8 is written in UTF-8 with LF line ends for
readability; it stands for the code page 932 bytes with CR LF line ends (the
suffix is dropped). In standard output, the failure report's module name and
location (in either form of its text) are masked as MODULE and XXXXXXXX before
comparing; a location of 00000000 (none found in the program) is left as it
is, so it never matches.

Usage: run_cases.py --binary PATH [--wrapper CMD] [--cases DIR] [CASE ...]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

UTF8_SUFFIX = ".utf8"
EXAMPLES_DIR = Path(__file__).resolve().parents[2] / "examples"

# "<kind> がモジュール <module> の <XXXXXXXX> で発生しました。" in code page 932, and
# in UTF-8 as a terminal that shows UTF-8 receives it.
REPORT_RES = [
    re.compile(
        b"(" + re.escape(" がモジュール ".encode(encoding)) + b")(.*?)("
        + re.escape(" の ".encode(encoding)) + rb")((?!00000000)[0-9A-F]{8})("
        + re.escape(" で発生".encode(encoding)) + b")"
    )
    for encoding in ("cp932", "utf-8")
]
LAST_RESORT_RE = re.compile(rb"(Runtime error [ 0-9]{3} at )(?!00000000)[0-9A-F]{8}")


def decode_fixture(path: Path) -> tuple[str, bytes]:
    """The name a fixture stands for and its bytes."""
    data = path.read_bytes()
    if path.name.endswith(UTF8_SUFFIX):
        text = data.decode("utf-8").replace("\r\n", "\n").replace("\n", "\r\n")
        return path.name[: -len(UTF8_SUFFIX)], text.encode("cp932")
    return path.name, data


def mask(data: bytes) -> bytes:
    for report_re in REPORT_RES:
        data = report_re.sub(rb"\1MODULE\3XXXXXXXX\5", data)
    return LAST_RESORT_RE.sub(rb"\1XXXXXXXX", data)


def show(data: bytes) -> str:
    try:
        return repr(data.decode("cp932"))
    except UnicodeDecodeError:
        return repr(data)


def expected_bytes(expect: Path, stem: str) -> bytes:
    for candidate in (expect / stem, expect / (stem + UTF8_SUFFIX)):
        if candidate.exists():
            return decode_fixture(candidate)[1]
    return b""


def copy_inputs(source: Path, work: Path) -> dict[str, bytes]:
    inputs = {}
    if not source.is_dir():
        return inputs
    for path in sorted(source.rglob("*")):
        if path.is_dir():
            continue
        name, data = decode_fixture(path)
        rel = path.parent.relative_to(source) / name
        target = work / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        inputs[str(rel)] = data
    return inputs


SKIPPED = ["skipped"]


def target_is_windows(binary: str) -> bool:
    target = os.environ.get("TABULON_E2E_TARGET")
    return target == "windows" if target else binary.lower().endswith(".exe")


def run_case(case: Path, binary: str, wrapper: str) -> list[str]:
    if (case / "skip_sanitized").exists() and os.environ.get("TABULON_SANITIZED"):
        reason = (case / "skip_sanitized").read_text().strip()
        print(f"skipped under the sanitizers: {case.name}: {reason}")
        return SKIPPED
    windows = target_is_windows(binary)
    if (case / ("windows_only" if not windows else "posix_only")).exists():
        return SKIPPED
    if (case / "runs").is_dir():
        return run_runs(case / "runs", binary, wrapper)
    return run_one(case, binary, wrapper)


def run_runs(runs: Path, binary: str, wrapper: str) -> list[str]:
    """Every run of a grouped case; skipped only when every run is."""
    failures = []
    ran = 0
    for run in sorted(p for p in runs.iterdir() if p.is_dir()):
        result = run_case(run, binary, wrapper)
        if result is SKIPPED:
            continue
        ran += 1
        failures += [f"[{run.name}] {failure}" for failure in result]
    return failures if ran else SKIPPED


def run_one(case: Path, binary: str, wrapper: str) -> list[str]:
    failures = []
    expect = case / "expect"
    with tempfile.TemporaryDirectory(prefix="tabulon-e2e-") as tmp:
        work = Path(tmp)
        inputs = copy_inputs(case / "files", work)
        env = dict(os.environ, TABULON=f"{wrapper} {binary}".strip(), LC_ALL="C",
                   TABULON_EXAMPLES=str(EXAMPLES_DIR))
        if (case / "cmd").exists():
            command = ["sh", "-c", (case / "cmd").read_text()]
        else:
            args = (case / "args").read_bytes().split(b"\n") if (case / "args").exists() else []
            args = [a.rstrip(b"\r") for a in args]
            if args and args[-1] == b"":
                args.pop()
            command = wrapper.split() + [binary] + args
        result = subprocess.run(command, cwd=work, env=env, capture_output=True, timeout=120)

        want_exit = int((expect / "exit").read_text().strip()) if (expect / "exit").exists() else 0
        if result.returncode != want_exit:
            failures.append(f"exit status {result.returncode}, expected {want_exit}")
        for stream, got in (("stdout", result.stdout), ("stderr", result.stderr)):
            want = expected_bytes(expect, stream)
            if mask(got) != want:
                failures.append(f"{stream}:\n    got      {show(mask(got))}\n    expected {show(want)}")
        files = expect / "files"
        if files.is_dir():
            for path in sorted(files.rglob("*")):
                if path.is_dir():
                    continue
                name, want = decode_fixture(path)
                rel = path.parent.relative_to(files) / name
                target = work / rel
                if not target.exists():
                    failures.append(f"{rel}: missing")
                elif target.read_bytes() != want:
                    failures.append(f"{rel}:\n    got      {show(target.read_bytes())}\n    expected {show(want)}")
        if (expect / "absent").exists():
            for name in (expect / "absent").read_text().split():
                if (work / name).exists():
                    failures.append(f"{name}: exists, expected absent")
        if (expect / "unchanged").exists():
            for name in (expect / "unchanged").read_text().split():
                if not (work / name).exists() or (work / name).read_bytes() != inputs.get(name):
                    failures.append(f"{name}: changed")
    return failures


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--wrapper", default="")
    parser.add_argument("--cases", default=str(Path(__file__).parent / "cases"))
    parser.add_argument("names", nargs="*")
    options = parser.parse_args()
    root = Path(options.cases)
    names = options.names or sorted(p.name for p in root.iterdir() if p.is_dir())
    failed = skipped = 0
    for name in names:
        failures = run_case(root / name, os.path.abspath(options.binary), options.wrapper)
        if failures is SKIPPED:
            print("skip " + name)
            skipped += 1
            continue
        print(("FAIL " if failures else "ok   ") + name)
        for failure in failures:
            print("  " + failure)
        failed += bool(failures)
    print(f"{len(names) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    if failed:
        return 1
    return 77 if skipped == len(names) else 0


if __name__ == "__main__":
    sys.exit(main())
