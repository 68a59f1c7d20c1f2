"""Helpers of the end-to-end scripts (tests/e2e/*.sh).

  capture  runs one program (the tool) inside the lab and records its
           standard output and standard error (two pipes, or one pipe for
           both), its exit status, its run time and a timeline of every
           output chunk and journal line with the moment it was seen; it can
           act on the lab when chosen journal events appear (a device that
           drops off the network at a given point).
  count    counts journal events that match field=value pairs.
  times    prints the t_ms of matching journal events, one a line.
  field    prints one member (dotted path) of each matching journal event.
  gap      seconds from the first stdout chunk holding a text to the first
           matching journal event seen after it (from a capture timeline).
"""
import json
import os
import resource
import select
import signal
import subprocess
import sys
import time


def die(message):
    sys.stderr.write("e2e.py: %s\n" % message)
    sys.exit(2)


def parse_pairs(match):
    """'event=recv,type=1' -> [('event', 'recv'), ('type', '1')]"""
    pairs = []
    for part in match.split(","):
        if not part:
            continue
        key, sep, value = part.partition("=")
        if not sep:
            die("bad match %r" % match)
        pairs.append((key, value))
    return pairs


def member(event, path):
    value = event
    for key in path.split("."):
        if not isinstance(value, dict) or key not in value:
            return None
        value = value[key]
    return value


def text_of(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (dict, list)):
        return json.dumps(value, sort_keys=True, separators=(",", ":"))
    return str(value)


def matches(event, pairs):
    for key, want in pairs:
        value = member(event, key)
        if value is None or text_of(value) != want:
            return False
    return True


def read_journal(path):
    events = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line:
                events.append(json.loads(line))
    return events


class JournalFollower:
    """Reads the journal's complete lines as they are appended."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b""

    def poll(self):
        if not self.path:
            return []
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return []
        self.offset += len(data)
        data = self.partial + data
        lines = data.split(b"\n")
        self.partial = lines.pop()
        out = []
        for line in lines:
            if line.strip():
                try:
                    out.append(json.loads(line))
                except ValueError:
                    pass
        return out


def capture(argv):
    # capture --dir DIR --mode split|both [--journal F] [--timeout S]
    #         [--trigger SPEC COUNT SHELLCMD]... [--setup SHELLCMD]
    #         [--max-files N] -- PROGRAM ARGS...
    run_dir = mode = journal = setup = None
    max_files = None
    timeout = 120.0
    triggers = []
    i = 0
    while i < len(argv):
        a = argv[i]
        if a == "--":
            i += 1
            break
        if a == "--dir":
            run_dir = argv[i + 1]; i += 2
        elif a == "--mode":
            mode = argv[i + 1]; i += 2
        elif a == "--journal":
            journal = argv[i + 1]; i += 2
        elif a == "--timeout":
            timeout = float(argv[i + 1]); i += 2
        elif a == "--trigger":
            triggers.append([parse_pairs(argv[i + 1]), int(argv[i + 2]), argv[i + 3], 0])
            i += 4
        elif a == "--setup":
            setup = argv[i + 1]; i += 2
        elif a == "--max-files":
            max_files = int(argv[i + 1]); i += 2
        else:
            die("capture: unknown option %s" % a)
    program = argv[i:]
    if not run_dir or mode not in ("split", "both") or not program:
        die("capture: usage")

    # The tool may only ever run inside a private network namespace.
    guard = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                         "scripts", "in-private-netns")
    if subprocess.call([guard]) != 0:
        die("refusing to run the tool outside a private network namespace")

    # The tool side as the case wants it (addresses added or removed).
    if setup is not None and subprocess.call(["bash", "-c", setup]) != 0:
        die("capture: the set-up command failed: %s" % setup)

    with open(os.path.join(run_dir, "started"), "w") as f:
        f.write("%d\n" % os.getpid())

    def limit_files():
        if max_files is not None:
            resource.setrlimit(resource.RLIMIT_NOFILE, (max_files, max_files))

    work = os.path.join(run_dir, "cwd")
    out_r, out_w = os.pipe()
    if mode == "split":
        err_r, err_w = os.pipe()
    else:
        err_r, err_w = None, out_w
    start = time.monotonic()
    child = subprocess.Popen(program, cwd=work, stdin=subprocess.DEVNULL,
                             stdout=out_w, stderr=err_w, close_fds=True, preexec_fn=limit_files)
    os.close(out_w)
    if err_r is not None:
        os.close(err_w)

    follower = JournalFollower(journal)
    streams = {out_r: "out" if mode == "split" else "both"}
    if err_r is not None:
        streams[err_r] = "err"
    data = {name: bytearray() for name in streams.values()}
    timeline = []
    timed_out = False
    open_fds = set(streams)
    while open_fds:
        now = time.monotonic()
        if now - start > timeout:
            timed_out = True
            child.kill()
            break
        ready, _, _ = select.select(list(open_fds), [], [], 0.005)
        seen = time.monotonic() - start
        for fd in ready:
            chunk = os.read(fd, 65536)
            if not chunk:
                open_fds.discard(fd)
                continue
            data[streams[fd]] += chunk
            timeline.append({"t": seen, "stream": streams[fd],
                             "text": chunk.decode("latin-1")})
        for event in follower.poll():
            timeline.append({"t": seen, "stream": "journal", "event": event})
            for trig in triggers:
                if trig[3] < trig[1] and matches(event, trig[0]):
                    trig[3] += 1
                    if trig[3] == trig[1]:
                        # $E2E_TOOL_PID names the tool (to signal it).
                        subprocess.call(["bash", "-c", trig[2]],
                                        env=dict(os.environ, E2E_TOOL_PID=str(child.pid)))
                        timeline.append({"t": time.monotonic() - start,
                                         "stream": "trigger", "text": trig[2]})
    try:
        status = child.wait(timeout=5)
    except subprocess.TimeoutExpired:
        child.kill()
        status = child.wait()
    elapsed = time.monotonic() - start
    for fd in streams:
        os.close(fd)
    for event in follower.poll():
        timeline.append({"t": elapsed, "stream": "journal", "event": event})

    for name, content in data.items():
        with open(os.path.join(run_dir, name), "wb") as f:
            f.write(content)
    with open(os.path.join(run_dir, "status"), "w") as f:
        f.write("timeout\n" if timed_out else "%d\n" % (status & 0xFF if status >= 0 else 128 - status))
    with open(os.path.join(run_dir, "elapsed"), "w") as f:
        f.write("%.3f\n" % elapsed)
    with open(os.path.join(run_dir, "timeline.jsonl"), "w") as f:
        for entry in timeline:
            f.write(json.dumps(entry) + "\n")
    return 0


def cmd_count(argv):
    path, match = argv
    pairs = parse_pairs(match)
    print(sum(1 for e in read_journal(path) if matches(e, pairs)))
    return 0


def cmd_times(argv):
    path, match = argv
    pairs = parse_pairs(match)
    for e in read_journal(path):
        if matches(e, pairs):
            print("%.1f" % e["t_ms"])
    return 0


def cmd_field(argv):
    path, match, path_in_event = argv
    pairs = parse_pairs(match)
    for e in read_journal(path):
        if matches(e, pairs):
            value = member(e, path_in_event)
            print("" if value is None else text_of(value))
    return 0


def cmd_gap(argv):
    # gap TIMELINE STDOUT-TEXT JOURNAL-SPEC [AFTER-SPEC]: seconds from the
    # moment the text was seen on standard output to the moment the first
    # journal event matching JOURNAL-SPEC (and, in journal order, after the
    # last event matching AFTER-SPEC) was seen. Journal lines are read in
    # polls, so an event older than the text can be seen after it: the
    # journal order, not the moment seen, decides which event counts.
    path, text, match = argv[:3]
    pairs = parse_pairs(match)
    after = parse_pairs(argv[3]) if len(argv) > 3 else None
    with open(path, encoding="utf-8") as f:
        entries = [json.loads(line) for line in f if line.strip()]
    shown = None
    written = ""
    for entry in entries:
        if entry["stream"] in ("out", "both"):
            written += entry["text"]
            if text in written:
                shown = entry["t"]
                break
    journal = [e for e in entries if e["stream"] == "journal"]
    start = 0
    if after is not None:
        for index, entry in enumerate(journal):
            if matches(entry["event"], after):
                start = index + 1
    for entry in journal[start:]:
        if matches(entry["event"], pairs):
            if shown is None:
                break
            print("%.3f" % (entry["t"] - shown))
            return 0
    print("none")
    return 0


def main():
    if len(sys.argv) < 2:
        die("usage: e2e.py capture|count|times|field|gap ...")
    commands = {"capture": capture, "count": cmd_count, "times": cmd_times,
                "field": cmd_field, "gap": cmd_gap}
    if sys.argv[1] not in commands:
        die("unknown command %s" % sys.argv[1])
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    return commands[sys.argv[1]](sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
