"""Runs inside the virtual rig (bench/exporter.sh): scrape latency of qrt-exporter while its cards
are being read, then the CPU time and memory of the daemon left alone. Prints Markdown rows.

Environment: EXPORTER (path), MODE (scrape: the latency of SCRAPES scrapes, default 400;
otherwise the daemon left alone for IDLE_SECONDS, default 60), WHAT (the rig, for the rows)."""
import os
import statistics
import subprocess
import time
import urllib.request

ADDRESS = "127.0.0.1:19469"


def get(path, timeout=5):
    with urllib.request.urlopen("http://%s%s" % (ADDRESS, path), timeout=timeout) as response:
        return response.read()


def wait_until(check, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if check():
                return True
        except OSError:
            pass
        time.sleep(0.2)
    return False


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_kb(pid):
    found = {}
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                found[key] = int(value.split()[0])
    return found


def measure(interval, scrapes, idle_seconds):
    exporter = subprocess.Popen([os.environ["EXPORTER"], "--listen", ADDRESS,
                                 "--interval", str(interval)], stderr=subprocess.DEVNULL)
    try:
        wait_until(lambda: get("/healthz") == b"ok\n", 120)
        rows = {}
        # Every card's first reading in: from then on each is read every interval.
        def all_read():
            text = get("/metrics")
            return text.count(b"\nqrt_up{") == text.count(b"\nqrt_reading_timestamp_seconds{")
        wait_until(all_read, 180)
        if scrapes:
            latencies = []
            for _ in range(scrapes):
                started = time.perf_counter()
                get("/metrics")
                latencies.append((time.perf_counter() - started) * 1000)
                time.sleep(0.05)
            latencies.sort()
            rows["median"] = statistics.median(latencies)
            rows["p99"] = latencies[int(len(latencies) * 0.99) - 1]
            rows["max"] = latencies[-1]
        else:
            cpu0, t0 = cpu_seconds(exporter.pid), time.monotonic()
            time.sleep(idle_seconds)
            rows["cpu"] = (cpu_seconds(exporter.pid) - cpu0) / (time.monotonic() - t0) * 100
            rows.update(memory_kb(exporter.pid))
        return rows
    finally:
        exporter.terminate()
        exporter.wait(60)


def main():
    idle = float(os.environ.get("IDLE_SECONDS", "60"))
    what = os.environ.get("WHAT", "")
    if os.environ.get("MODE") == "scrape":
        scrapes = int(os.environ.get("SCRAPES", "400"))
        busy = measure(1, scrapes, 0)
        print("| %s: %d scrapes while every card is read again each second, median (ms) | %.2f |"
              % (what, scrapes, busy["median"]))
        print("| %s: p99 (ms) | %.2f |" % (what, busy["p99"]))
        print("| %s: slowest (ms) | %.2f |" % (what, busy["max"]))
        return
    quiet = measure(15, 0, idle)
    print("| %s: idle daemon (--interval 15, no scrapes), CPU over %.0f s (%% of one core) | %.2f |"
          % (what, idle, quiet["cpu"]))
    print("| %s: resident memory, now / peak (kB) | %d / %d |"
          % (what, quiet["VmRSS"], quiet["VmHWM"]))


if __name__ == "__main__":
    main()
