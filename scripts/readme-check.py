#!/usr/bin/env python3
"""Runs the README's examples as written and compares what they print with what the README shows.

    readme-check.py BIN_DIR WORK_DIR [README]

In the README's indented code blocks, a line "$ command" is a command; the lines under it, up to
the next command or the end of the block, are what it prints (stdout and stderr together), line
for line. A line "..." stands for any number of lines, and "..." inside a line for any text.
Every command of the README runs, in order, in one bash session: in WORK_DIR (emptied first,
with a copy of samples/ and HOME there), with BIN_DIR first on PATH. A command must exit 0
unless the next one is "echo $?", which shows its exit code. A command ending in "&" runs in the
background; whatever is still running at the end is stopped.

The session runs in a network namespace of its own when the system allows one, so that the
addresses the README listens on are free whatever else runs on the machine.
"""
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def examples(readme):
    """[(line number, command, [expected lines])] of the README, in order."""
    found, current = [], None
    for number, line in enumerate(open(readme, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if line.startswith("    "):
            text = line[4:].rstrip()
            if text.startswith("$ "):
                current = (number, text[2:], [])
                found.append(current)
            elif current is not None:
                current[2].append(text)
        elif line.strip() == "":
            if current is not None:
                current[2].append("")  # inside a block, or the end of one: told apart below
        else:
            current = None
    # Blank lines that only separated a block from what follows it are no output.
    for _, _, expected in found:
        while expected and expected[-1] == "":
            expected.pop()
    return found


def script(commands, out_dir):
    """The bash session: each command's output into its own file, its exit code after it."""
    lines = ["rc=0"]
    for i, (_, command, _) in enumerate(commands):
        out = os.path.join(out_dir, str(i))
        if command.endswith("&"):
            # exec: the job is the program itself, so that stopping it stops the program.
            lines.append(f"{{ exec {command[:-1].rstrip()} ; }} > {out} 2>&1 &")
            lines.append(f"echo 0 > {out}.rc")
        else:
            lines.append(f"(exit $rc); {{ {command}\n}} > {out} 2>&1; rc=$?; echo $rc > {out}.rc")
    lines.append("kill $(jobs -p) 2>/dev/null; wait")
    return "\n".join(lines) + "\n"


def matches(expected, actual):
    """Whether the lines printed are the lines shown, "..." standing for any lines or any text."""
    def line_matches(pattern, text):
        parts = [re.escape(p) for p in pattern.split("...")]
        return re.fullmatch(".*".join(parts), text) is not None

    def walk(e, a):
        if e == len(expected):
            return a == len(actual)
        if expected[e] == "...":
            return any(walk(e + 1, k) for k in range(a, len(actual) + 1))
        return a < len(actual) and line_matches(expected[e], actual[a]) and walk(e + 1, a + 1)

    return walk(0, 0)


def bring_loopback_up():
    """In a fresh network namespace the loopback interface is down: SIOCSIFFLAGS, IFF_UP."""
    import fcntl
    import socket
    import struct
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        fcntl.ioctl(s, 0x8914, struct.pack("16sH14x", b"lo", 0x1 | 0x8 | 0x40))


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--session":  # inside the namespace
        bring_loopback_up()
        return subprocess.call(["bash", sys.argv[2]], cwd=sys.argv[3])
    bin_dir, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    readme = sys.argv[3] if len(sys.argv) > 3 else os.path.join(ROOT, "README.md")
    commands = examples(readme)
    if not commands:
        print("readme-check: the README shows no command", file=sys.stderr)
        return 1
    shutil.rmtree(work, ignore_errors=True)
    out_dir = os.path.join(work, ".outputs")
    os.makedirs(out_dir)
    shutil.copytree(os.path.join(ROOT, "samples"), os.path.join(work, "samples"))
    session = os.path.join(out_dir, "session.sh")
    with open(session, "w") as f:
        f.write(script(commands, out_dir))
    env = {k: v for k, v in os.environ.items() if not k.startswith("IMP_")}
    env.update(PATH=bin_dir + os.pathsep + env.get("PATH", "/usr/bin:/bin"), HOME=work, LC_ALL="C.UTF-8")
    private = subprocess.call(["unshare", "-rn", "true"], stderr=subprocess.DEVNULL) == 0 \
        if shutil.which("unshare") else False
    run = ["unshare", "-rn", sys.executable, os.path.abspath(__file__), "--session", session, work] if private \
        else ["bash", session]
    subprocess.run(run, cwd=work, env=env, timeout=300)

    failures = 0
    for i, (number, command, expected) in enumerate(commands):
        with open(os.path.join(out_dir, str(i)), encoding="utf-8", errors="replace") as f:
            actual = [line.rstrip() for line in f.read().splitlines()]
        while actual and actual[-1] == "":
            actual.pop()
        with open(os.path.join(out_dir, f"{i}.rc")) as f:
            rc = int(f.read().strip() or -1)
        checks_rc = i + 1 < len(commands) and commands[i + 1][1] == "echo $?"
        problem = None
        if rc != 0 and not checks_rc:
            problem = f"exit code {rc}"
        elif not matches(expected, actual):
            problem = "other output"
        if problem:
            failures += 1
            print(f"{os.path.basename(readme)}:{number}: $ {command}\n  {problem}; the README shows:")
            print("".join(f"    | {line}\n" for line in expected), end="")
            print("  it printed:")
            print("".join(f"    | {line}\n" for line in actual), end="")
    print(f"readme-check: {len(commands)} commands of the README, {failures} differing"
          + ("" if private else " (no private network namespace: ran on the machine's own)"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
