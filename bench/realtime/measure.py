#!/usr/bin/env python3
"""Real-time measurement of the players, from outside: lip sync, pacing, start-up, CPU, memory.

Makes the sync message (bench/realtime/sync_source.py, then make-message, which also builds
clipnote.exe and the native clipnote around it), then plays it with each player on a private
Xvfb screen into a PulseAudio null sink, while av_recorder records the screen and the sink's
monitor against one clock. mpv and ffplay play the source file the message was made from
(the same flashes and beeps). Every flash and beep found is compared with what the played
file intends; mpv's mean offset in the same run is the chain's own offset.

  measure.py [--players native,wine,mpv,ffplay,mpv-alsa,web] [--seconds 32] [--runs 1]
             [--out DIR] [--check]

--check is the continuous-integration check of the native player: every event within
CHECK_EVENT_MS of mpv's offset and no more than CHECK_DRIFT_MS of drift over the message; the
Windows player's figure is printed beside it without a bound.
"""

import argparse
import bisect
import csv
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))
import detect  # noqa: E402
import sync_source  # noqa: E402
from sandbox import SINK_LATENCY_MS, SINK_RATE, Sandbox  # noqa: E402

TITLE = "Tarvany Clipnote Player"
CHECK_EVENT_MS = 80
CHECK_DRIFT_MS = 20
MATCH_MS = 300
PAIR_MS = 150  # a flash and a beep meant this close together are one event  # an event found further than this from where it belongs is not that event


class Player:
    def __init__(self, name, command, title, reference, ends_by_itself, cwd=None):
        self.name, self.command, self.title = name, command, title
        self.reference, self.ends_by_itself, self.cwd = reference, ends_by_itself, cwd


def prepare_message(args, work):
    """The source file, the message made from it, and the players built around it."""
    source = work / f"sync-{int(args.seconds)}s.mkv"
    if not source.exists():
        sync_source.write(str(source), args.seconds)
    message = work / f"message-{int(args.seconds)}s"
    wanted = {"native": "clipnote", "wine": "clipnote.exe"}
    needed = [wanted[p] for p in args.players
              if p in wanted and not (p == "native" and args.native or p == "wine" and args.exe)]
    if args.rebuild or not all((message / name).exists() for name in needed + ["message.263"]):
        command = [str(ROOT / "tools" / "make-message" / "make-message"), str(source),
                   "-o", str(message), "--force"]
        # The native clipnote is built from source around the clips (which also builds
        # clipnote.exe); clipnote.exe alone is written by the message writer.
        if "clipnote" in needed:
            command += ["--build-native-player", str(message)]
        elif needed:
            command += ["--build-player", str(message)]
        print(f"making the sync message and its players in {message} ...", flush=True)
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        missing = [name for name in needed if not (message / name).exists()]
        if missing:
            raise SystemExit(f"measure: make-message built no {', '.join(missing)}")
    if "web" in args.players:
        page = message / "message.html"
        site = Path(args.web_site)
        if not (site / "index.html").exists():
            raise SystemExit(f"measure: no browser player in {site}: scripts/run --web builds it")
        subprocess.run([sys.executable, str(ROOT / "web" / "tools" / "make_single_html.py"),
                        str(site), str(page), str(message / "message.263"),
                        str(message / "message.723")], check=True, stdout=subprocess.DEVNULL)
    return source, message


def players_for(args, source, message, work):
    clips = detect.clip_events(args.decoder, message / "message.263", message / "message.723",
                               work)
    from_source = detect.source_events(source, work)
    table = {
        "native": Player("native", [str(args.native or message / "clipnote")], TITLE, clips,
                         False),
        "wine": Player("wine", ["wine", str(args.exe or message / "clipnote.exe")], TITLE, clips,
                       False, cwd=str(message)),
        "mpv": Player("mpv", ["mpv", "--no-config", "--really-quiet", "--vo=x11", "--ao=pulse",
                              "--geometry=+0+0", "--title=mpv sync", str(source)],
                      "mpv sync", from_source, True),
        # mpv again, through ALSA with half a second of buffer: a chain that measures the
        # truth gives it mpv's offset, since mpv makes up for its own buffering.
        "mpv-alsa": Player("mpv-alsa", ["mpv", "--no-config", "--really-quiet", "--vo=x11",
                                        "--ao=alsa", "--audio-buffer=0.5", "--geometry=+0+0",
                                        "--title=mpv sync", str(source)],
                           "mpv sync", from_source, True),
        # The browser player: the self-contained page of the same message in chromium
        # (not headless: the recorder watches the screen), sound through the same server.
        "web": Player("web", ["chromium", "--no-sandbox", "--no-first-run",
                              "--disable-background-networking", "--disable-component-update",
                              "--disable-sync", "--disable-gpu",
                              f"--user-data-dir={work / 'chromium-profile'}",
                              "--autoplay-policy=no-user-gesture-required",
                              "--window-position=0,0", "--window-size=640,480",
                              f"--app=file://{message / 'message.html'}"],
                      TITLE, clips, False),
        "ffplay": Player("ffplay", ["ffplay", "-hide_banner", "-loglevel", "quiet", "-autoexit",
                                    "-left", "0", "-top", "0", "-window_title", "ffplay sync",
                                    str(source)], "ffplay sync", from_source, True),
    }
    return [table[name] for name in args.players]


def _peak_resident_kb(pid):
    """The largest peak resident set among a process and its children (a program started
    through a launcher, as wine starts one, may be a child)."""
    peak = 0
    try:
        pids = [pid] + [int(p) for p in os.listdir("/proc") if p.isdigit()
                        and _parent(int(p)) == pid]
    except OSError:
        pids = [pid]
    for each in pids:
        try:
            for line in open(f"/proc/{each}/status"):
                if line.startswith("VmHWM:"):
                    peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
    return peak


def _parent(pid):
    try:
        return int(open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[1])
    except (OSError, IndexError, ValueError):
        return None


def play_once(player, sandbox, recorder, work, seconds):
    """Plays the message once while recording; returns the recording's events and what the
    player's process used."""
    events, sound = work / f"{player.name}.screen", work / f"{player.name}.sound"
    record = subprocess.Popen(
        [str(recorder), "--source", sandbox.monitor, "--events", str(events), "--sound",
         str(sound), "--window", player.title, "--seconds", str(seconds + 20),
         "--rate", str(SINK_RATE), "--fragment-ms", str(SINK_LATENCY_MS)],
        env=sandbox.env, stdout=subprocess.PIPE, text=True)
    if record.stdout.readline().strip() != "recording":
        raise RuntimeError("av_recorder did not start")
    time.sleep(0.5)
    started = time.monotonic() * 1000
    process = subprocess.Popen(player.command, env=sandbox.env, cwd=player.cwd,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    deadline = time.monotonic() + seconds + (15 if player.ends_by_itself else 3)
    status, peak_kb = None, 0
    while time.monotonic() < deadline:
        peak_kb = max(peak_kb, _peak_resident_kb(process.pid))
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        time.sleep(0.05)
    else:
        # Our players stay open after the message, as a person would leave them.
        os.killpg(process.pid, signal.SIGTERM)
        _, status, usage = os.wait4(process.pid, 0)
    process.returncode = status
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    time.sleep(0.3)
    record.send_signal(signal.SIGTERM)
    record.wait(timeout=30)
    result = detect.recorded_events(events, sound, SINK_RATE)
    result["started"] = started
    result["cpu"] = usage.ru_utime + usage.ru_stime
    # (wait4's ru_maxrss would not do: it keeps what this script had at the fork.)
    result["peak_mb"] = peak_kb / 1024
    return result


def _align(intended, found):
    """The shift that puts the most intended times within MATCH_MS of a found time (the
    events' irregular spacing makes it unambiguous), and for each intended time the found
    time it then meets, or None."""
    best = None
    # The first events seen are among the first few intended (a player may miss some at
    # its start, never most of them): shifts from those are enough.
    for shift in {f - i for f in found[:5] for i in intended[:10]}:
        matched = _match([i + shift for i in intended], found)
        hits = [abs(m - (i + shift)) for i, m in zip(intended, matched) if m is not None]
        score = (len(hits), -sum(hits))
        if best is None or score > best[0]:
            best = (score, shift, matched)
    return (best[1], best[2]) if best else (None, [None] * len(intended))


def _match(expected_times, found):
    """For each expected time the found time nearest to it, or None (found is sorted)."""
    matched = []
    for expected in expected_times:
        index = bisect.bisect_left(found, expected)
        near = [t for t in found[max(0, index - 1):index + 1]]
        best = min(near, key=lambda t: abs(t - expected), default=None)
        matched.append(best if best is not None and abs(best - expected) <= MATCH_MS else None)
    return matched


def _slope_per_minute(xs, ys):
    if len(xs) < 3:
        return 0.0
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    sxx = sum((x - mx) ** 2 for x in xs)
    return 0.0 if sxx == 0 else sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx * 60000


def analyse(reference, recorded):
    """Per-event offsets (sound minus picture, ms, corrected by what the file intends) and
    pacing (each flash change's screen time against its schedule from picture 0)."""
    # The intended events: each flash with the beep that goes with it.
    flashes, beeps = [], []
    for flash in reference["flashes"]:
        beep = min(reference["beeps"], key=lambda b: abs(b - flash), default=None)
        if beep is not None and abs(beep - flash) < PAIR_MS:
            flashes.append(flash)
            beeps.append(beep)
    count = len(flashes)
    if count == 0 or not recorded["flashes"] or not recorded["beeps"]:
        return None
    # Picture 0's time on screen, and sample 0's in the sink, as the events place them.
    picture0, shown = _align(flashes, recorded["flashes"])
    _, played = _align(beeps, recorded["beeps"])
    rows = []
    for i in range(count):
        if shown[i] is None or played[i] is None:
            continue
        offset = (played[i] - shown[i]) - (beeps[i] - flashes[i])
        rows.append({"event": i, "time_s": flashes[i] / 1000, "offset_ms": offset})
    ends = _match([picture0 + f for f in reference["flash_ends"]], recorded["flash_ends"])
    pacing = [(seen - picture0) - f for f, seen in
              zip(flashes + reference["flash_ends"], shown + ends) if seen is not None]
    offsets = [r["offset_ms"] for r in rows]
    first_shown = next((t - f for f, t in zip(flashes, shown) if t is not None), picture0)
    return {
        "rows": rows,
        "events": len(rows), "expected": count,
        "mean": statistics.fmean(offsets) if offsets else float("nan"),
        "min": min(offsets, default=float("nan")), "max": max(offsets, default=float("nan")),
        "drift": _slope_per_minute([r["time_s"] * 1000 for r in rows], offsets),
        "window_ms": (recorded["window"] - recorded["started"]) if recorded["window"] else None,
        # The first flash seen, taken back to picture 0 by its intended time.
        "picture0_ms": first_shown - recorded["started"],
        "pacing_mean": statistics.fmean(pacing) if pacing else float("nan"),
        "pacing_worst": max(pacing, key=abs, default=float("nan")),
        "late": sum(1 for p in pacing if p > 50), "changes": len(pacing),
        "cpu": recorded["cpu"], "peak_mb": recorded["peak_mb"],
        "grab_ms": recorded["grab_interval"],
    }


def print_table(results, chain):
    print()
    print(f"chain offset (mpv's mean, taken off below): "
          f"{'%.1f ms' % chain if chain is not None else 'not measured'}")
    header = ("player", "run", "events", "offset mean", "min..max", "drift ms/min", "window",
              "picture 0", "pacing mean/worst", "late", "CPU s", "peak MB")
    print(" | ".join(header))
    base = chain or 0.0
    for name, run, r in results:
        if r is None:
            print(f"{name} | {run} | no events found")
            continue
        window = f"{r['window_ms']:.0f} ms" if r["window_ms"] is not None else "-"
        print(f"{name} | {run} | {r['events']}/{r['expected']} | {r['mean'] - base:+.1f} ms | "
              f"{r['min'] - base:+.0f}..{r['max'] - base:+.0f} | {r['drift']:+.1f} | {window} | "
              f"{r['picture0_ms']:.0f} ms | {r['pacing_mean']:+.1f}/{r['pacing_worst']:+.0f} ms | "
              f"{r['late']}/{r['changes']} | {r['cpu']:.2f} | {r['peak_mb']:.1f}")
    print("(offsets are sound minus picture after the chain's offset: positive = sound late; "
          "'late' counts flash changes shown more than 50 ms after their time)")


def write_csv_and_plot(results, chain, out):
    out.mkdir(parents=True, exist_ok=True)
    path = out / "events.csv"
    with open(path, "w", newline="") as file:
        writer = csv.writer(file)
        writer.writerow(["player", "run", "event", "time_s", "offset_ms", "offset_vs_mpv_ms"])
        for name, run, r in results:
            for row in (r["rows"] if r else []):
                writer.writerow([name, run, row["event"], f"{row['time_s']:.3f}",
                                 f"{row['offset_ms']:.2f}",
                                 f"{row['offset_ms'] - (chain or 0):.2f}"])
    print(f"per-event data: {path}")
    if shutil.which("gnuplot") is None:
        return
    plots = []
    for name, run, r in results:
        if r and r["rows"]:
            data = out / f"{name}-{run}.dat"
            data.write_text("".join(f"{row['time_s']} {row['offset_ms'] - (chain or 0)}\n"
                                    for row in r["rows"]))
            plots.append(f"'{data}' using 1:2 with linespoints title '{name} {run}'")
    if not plots:
        return
    png = out / "offsets.png"
    script = (f"set terminal png size 800,400\nset output '{png}'\n"
              "set xlabel 'time in the message (s)'\n"
              "set ylabel 'sound minus picture, vs mpv (ms)'\nset grid\nset key outside\n"
              "plot " + ", ".join(plots) + "\n")
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    print(f"plot: {png}")


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--players", default="native,wine,mpv,ffplay")
    parser.add_argument("--seconds", type=float, default=32.0)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--build", default=str(ROOT / "build" / "native"),
                        help="native build tree (for av_recorder and clipnote-decode)")
    parser.add_argument("--out", default=None, help="where the work and results go "
                        "(default: BUILD/realtime)")
    parser.add_argument("--rebuild", action="store_true", help="make the message and players "
                        "again even if the work folder has them")
    parser.add_argument("--native", help="a native clipnote carrying the sync message, "
                        "instead of the one built around it here")
    parser.add_argument("--exe", help="a clipnote.exe carrying the sync message, instead of "
                        "the one built around it here")
    parser.add_argument("--web-site", default=str(ROOT / "build" / "web" / "site"),
                        help="the built browser player (for the player 'web')")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    args.players = [p for p in args.players.split(",") if p]
    if args.check and "mpv" not in args.players:
        args.players.insert(0, "mpv")
    build = Path(args.build)
    args.decoder = build / "tools" / "clipnote-decode" / "clipnote-decode"
    args.recorder = build / "bench" / "realtime" / "av_recorder"
    args.out = Path(args.out) if args.out else build / "realtime"
    for tool in (args.decoder, args.recorder):
        if not tool.exists():
            parser.error(f"{tool} is missing: build the native tree first")
    return args


def main():
    args = parse_args()
    work = args.out
    work.mkdir(parents=True, exist_ok=True)
    source, message = prepare_message(args, work)
    players = players_for(args, source, message, work)
    wine_prefix = work / "wineprefix" if "wine" in args.players else None
    results = []
    with Sandbox(wine_prefix=wine_prefix) as sandbox:
        for run in range(1, args.runs + 1):
            for player in players:
                recorded = play_once(player, sandbox, args.recorder, work, args.seconds)
                results.append((player.name, run, analyse(player.reference, recorded)))
    mpv = [r["mean"] for name, _, r in results if name == "mpv" and r]
    chain = statistics.fmean(mpv) if mpv else None
    print_table(results, chain)
    write_csv_and_plot(results, chain, work)
    if args.check:
        return check(results, chain, args.seconds)
    return 0


def check(results, chain, seconds):
    failures = []
    if chain is None:
        failures.append("mpv's events were not found: the chain's offset is unknown")
    for name, run, r in results:
        if name != "native":
            continue
        if r is None or r["events"] < 0.9 * r["expected"]:
            failures.append(f"native run {run}: too few events found "
                            f"({r['events'] if r else 0} of {r['expected'] if r else '?'})")
            continue
        if chain is None:
            continue
        worst = max((row["offset_ms"] - chain for row in r["rows"]), key=abs)
        if abs(worst) > CHECK_EVENT_MS:
            failures.append(f"native run {run}: an event {worst:+.0f} ms from mpv's offset "
                            f"(bound {CHECK_EVENT_MS} ms)")
        drift = r["drift"] * seconds / 60
        if abs(drift) > CHECK_DRIFT_MS:
            failures.append(f"native run {run}: drift {drift:+.1f} ms over the message "
                            f"(bound {CHECK_DRIFT_MS} ms)")
    for failure in failures:
        print("FAILED: " + failure)
    if not failures:
        print("real-time check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
