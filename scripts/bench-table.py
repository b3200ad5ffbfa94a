#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Prints the one benchmark table from the JSON files that the bench programs
wrote (one <program>.json each, --benchmark_out_format=json).

Each figure is looked up by program, benchmark and counter name; a program,
benchmark or counter that is missing, or a benchmark that reported an error,
shows as "n/a".
"""
import json
import os
import sys


def load(folder):
    runs = {}
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".json"):
            continue
        try:
            with open(os.path.join(folder, name)) as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        runs[name[:-5]] = data.get("benchmarks", [])
    return runs


def find(runs, program, benchmark):
    """The first plain run of `benchmark`: its name, or its name and arguments
    ("BM_CaptureVsCat/1"), before the run's options ("/iterations:3")."""
    for b in runs.get(program, []):
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = b.get("name", "")
        if name == benchmark or name.startswith(benchmark + "/"):
            return b
    return None


class Lookup:
    def __init__(self, runs):
        self.runs = runs

    def get(self, program, benchmark, counter, scale=1.0):
        b = find(self.runs, program, benchmark)
        if b is None or b.get("error_occurred") or counter not in b:
            return None
        try:
            return float(b[counter]) * scale
        except (TypeError, ValueError):
            return None

    def error(self, program, benchmark):
        b = find(self.runs, program, benchmark)
        if b is not None and b.get("error_occurred"):
            return b.get("error_message", "error")
        return None


def fmt(value, pattern):
    return "n/a" if value is None else pattern.format(value)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "build/bench-results"
    q = Lookup(load(folder))

    rows = []

    def row(what, value, note=""):
        rows.append((what, value, note))

    def note_of(program, benchmark, text):
        err = q.error(program, benchmark)
        return "error: " + err if err else text

    row("Framing, random 1021-byte packets",
        fmt(q.get("bench_framing", "BM_FrameRandom", "bytes_per_second", 1e-6), "{:.0f} MB/s"),
        note_of("bench_framing", "BM_FrameRandom", "CHdlcFramer::Frame in place; MB = 10^6 bytes"))
    row("Framing, 1021 bytes of 0x7E (cut at the room)",
        fmt(q.get("bench_framing", "BM_FrameAllFlags", "bytes_per_second", 1e-6), "{:.0f} MB/s"),
        note_of("bench_framing", "BM_FrameAllFlags", "every byte escaped"))
    row("Decoding framed records (record stream), without / with names",
        fmt(q.get("bench_decode", "BM_DecodeFramedRecords", "bytes_per_second", 1e-6), "{:.0f}") + " / "
        + fmt(q.get("bench_decode", "BM_DecodeFramedRecordsWithNames", "bytes_per_second", 1e-6), "{:.0f} MB/s"),
        note_of("bench_decode", "BM_DecodeFramedRecords",
                "32 MiB of HDLC frames in 8192-byte chunks; records kept as the view keeps them: "
                + fmt(q.get("bench_decode", "BM_DecodeFramedRecordsKept", "bytes_per_second", 1e-6), "{:.0f} MB/s")))

    rx = q.get("bench_receive", "BM_ReceiveHex", "rx_MiBps")
    worst = q.get("bench_receive", "BM_ReceiveHex", "worst_late_ms")
    p99 = q.get("bench_receive", "BM_ReceiveHex", "p99_late_ms")
    row("Receive path, HEX mode (pty, reader, hand-over, hex text, results box)",
        fmt(rx, "{:.2f} MiB/s"),
        note_of("bench_receive", "BM_ReceiveHex", "three floods of 3 s, the far end writing as fast as it can; window shown"))
    row("  event loop meanwhile: worst lateness of a 10 ms timer",
        fmt(worst, "{:.1f} ms"),
        "p99 " + fmt(p99, "{:.1f} ms") + "; the timer fired "
        + fmt(q.get("bench_receive", "BM_ReceiveHex", "ticks_per_s"), "{:.0f}") + " times a second of 100; "
        + fmt(q.get("bench_receive", "BM_ReceiveHex", "loop_passes_per_s"), "{:.0f}") + " event-loop passes a second; "
        + "same timer on the idle window: worst "
        + fmt(q.get("bench_receive", "BM_ReceiveHex", "idle_worst_late_ms"), "{:.1f} ms"))

    row("  the same beside one busy process: worst lateness",
        fmt(q.get("bench_receive", "BM_ReceiveHexBusyMachine", "worst_late_ms"), "{:.1f} ms"),
        "receive " + fmt(q.get("bench_receive", "BM_ReceiveHexBusyMachine", "rx_MiBps"), "{:.2f} MiB/s")
        + "; the timer fired " + fmt(q.get("bench_receive", "BM_ReceiveHexBusyMachine", "ticks_per_s"), "{:.0f}")
        + " times a second of 100")
    row("  window thread CPU per 4095 bytes during the flood",
        fmt(q.get("bench_receive", "BM_ReceiveHex", "window_cpu_ms_per_4095B"), "{:.2f} ms"),
        "beside a busy process: "
        + fmt(q.get("bench_receive", "BM_ReceiveHexBusyMachine", "window_cpu_ms_per_4095B"), "{:.2f} ms"))

    cap = "BM_CaptureVsCat/1"
    nofile = "BM_CaptureVsCat/0"
    row("  window thread per chunk: 4095 / 8192 bytes (handler + one loop pass)",
        fmt(q.get("bench_receive", "BM_OnCommRxCharHexChunk/4095", "cpu_time"), "{:.2f} ms") + " / "
        + fmt(q.get("bench_receive", "BM_OnCommRxCharHexChunk/8192", "cpu_time"), "{:.2f} ms"),
        "CPU time; wall " + fmt(q.get("bench_receive", "BM_OnCommRxCharHexChunk/4095", "real_time"), "{:.2f}")
        + " / " + fmt(q.get("bench_receive", "BM_OnCommRxCharHexChunk/8192", "real_time"), "{:.2f} ms"))
    row("  capture line's counting per 4095-byte chunk of log frames",
        fmt(q.get("bench_receive", "BM_CaptureStatsChunk", "cpu_time"), "{:.0f} us"),
        "deframer and log-code count beside each capture write")
    row("Capture throughput, ratio to cat",
        fmt(q.get("bench_capture", cap, "ratio"), "{:.2f}"),
        note_of("bench_capture", cap,
                "64 MiB: capture " + fmt(q.get("bench_capture", cap, "capture_MiBps"), "{:.1f} MiB/s")
                + ", cat " + fmt(q.get("bench_capture", cap, "cat_MiBps"), "{:.1f} MiB/s")
                + (" (pairs " + fmt(q.get("bench_capture", cap, "ratio_min"), "{:.2f}") + "-"
                   + fmt(q.get("bench_capture", cap, "ratio_max"), "{:.2f}") + ")"
                   if q.get("bench_capture", cap, "ratio_min") is not None else "")
                + "; Log client without a file: ratio " + fmt(q.get("bench_capture", nofile, "ratio"), "{:.2f}")))
    row("Replay throughput, ratio to cat",
        fmt(q.get("bench_replay", "BM_ReplayVsCat", "ratio"), "{:.2f}"),
        note_of("bench_replay", "BM_ReplayVsCat",
                "replay " + fmt(q.get("bench_replay", "BM_ReplayVsCat", "replay_MiBps"), "{:.1f} MiB/s")
                + ", cat " + fmt(q.get("bench_replay", "BM_ReplayVsCat", "cat_MiBps"), "{:.1f} MiB/s")
                + "; plain 1024-byte writes: ratio "
                + fmt(q.get("bench_replay", "BM_ReplayVsCat", "raw1k_ratio"), "{:.2f}")))
    row("Reply latency, median / p99",
        fmt(q.get("bench_replay", "BM_ReplyLatency", "median_us"), "{:.0f} us") + " / "
        + fmt(q.get("bench_replay", "BM_ReplyLatency", "p99_us"), "{:.0f} us"),
        note_of("bench_replay", "BM_ReplyLatency", "version request to last reply byte at the far end"))

    row("Time from start to the window shown (the orvane program)",
        fmt(q.get("bench_startup", "BM_StartupOfTheProgram", "shown_ms"), "{:.0f} ms"),
        note_of("bench_startup", "BM_StartupOfTheProgram",
                "median of 5 launches (min " + fmt(q.get("bench_startup", "BM_StartupOfTheProgram", "shown_min_ms"),
                                                  "{:.0f}")
                + ", max " + fmt(q.get("bench_startup", "BM_StartupOfTheProgram", "shown_max_ms"), "{:.0f}")
                + " ms), offscreen, until its event loop first sleeps"))
    row("  in process: QApplication + window built, shown, painted",
        fmt(q.get("bench_startup", "BM_WindowShownInProcess", "shown_ms"), "{:.0f} ms"),
        note_of("bench_startup", "BM_WindowShownInProcess",
                "of which the window " + fmt(q.get("bench_startup", "BM_WindowShownInProcess", "window_ms"),
                                             "{:.0f} ms")))
    row("Resident memory after start (the orvane program)",
        fmt(q.get("bench_startup", "BM_StartupOfTheProgram", "rss_start_MiB"), "{:.1f} MiB"),
        "VmRSS when the window is shown")
    captured = q.get("bench_startup", "BM_ResidentMemoryCapture", "captured_MiB")
    has_file = q.get("bench_startup", "BM_ResidentMemoryCapture", "capture_file")
    capture_note = ("window in the bench process: " + fmt(
        q.get("bench_startup", "BM_ResidentMemoryCapture", "rss_start_MiB"), "{:.1f} MiB") + " before; "
        + (fmt(captured, "{:.1f} MiB") + " in the capture file" if has_file else "no capture file"))
    row("Resident memory after a 64 MiB capture",
        fmt(q.get("bench_startup", "BM_ResidentMemoryCapture", "rss_capture_MiB"), "{:.1f} MiB"),
        note_of("bench_startup", "BM_ResidentMemoryCapture", capture_note))

    width = max(len(r[0]) for r in rows)
    vwidth = max(len(r[1]) for r in rows)
    print("| " + "Figure".ljust(width) + " | " + "Value".ljust(vwidth) + " | Notes |")
    print("|-" + "-" * width + "-|-" + "-" * vwidth + "-|-------|")
    for what, value, note in rows:
        print("| " + what.ljust(width) + " | " + value.ljust(vwidth) + " | " + note + " |")


if __name__ == "__main__":
    main()
