"""Runs inside the virtual rig: starts qrt-exporter, throws bad requests at it while asking for
metrics, makes one card busy, lets a real Prometheus server scrape it and asks Prometheus's HTTP
API for the qrt_ series; then stops the exporter with SIGTERM. Prints one JSON document of what
it saw. Every wait is bounded; the exporter and Prometheus are stopped on every path.

Environment: EXPORTER, QRT_SIM, PROMETHEUS and PROMTOOL (paths), BUSY_SECTION (the rig section
of the card to make busy), BUSY_PRODUCT and OTHER_PRODUCT (product indexes), WORK (a scratch
directory)."""
import json
import os
import socket
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

ADDRESS = ("127.0.0.1", 19469)
PROMETHEUS_ADDRESS = "127.0.0.1:19090"
work = os.environ["WORK"]
result = {"seconds": {}}
started = time.monotonic()


def mark(phase):
    """Notes when a phase ended, for a reader of a failed run."""
    result["seconds"][phase] = round(time.monotonic() - started, 1)


def http_get(path, headers=None, timeout=10):
    request = urllib.request.Request("http://%s:%d%s" % (ADDRESS + (path,)), headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as response:
            return response.status, response.headers.get("Content-Type", ""), response.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, "", ""
    except OSError:
        return 0, "", ""


def raw_request(data, timeout=15):
    """Sends bytes on a fresh connection; returns the status line the server answered, or
    'closed' when it closed the connection without an answer."""
    with socket.create_connection(ADDRESS, timeout=timeout) as sock:
        try:
            sock.sendall(data)
            answer = sock.recv(4096)
        except (ConnectionResetError, BrokenPipeError):
            return "closed"
    return answer.split(b"\r\n", 1)[0].decode(errors="replace") if answer else "closed"


def wait_until(check, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.2)
    return None


def samples(text):
    """{(name, labels text): value} of an exposition."""
    found = {}
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        name_labels, value = line.rsplit(" ", 1)
        found[name_labels] = float(value)
    return found


def product_value(text, name, product):
    for key, value in samples(text).items():
        if key.startswith(name + "{") and ('product="%s"' % product) in key:
            return value
    return None


class SlowClient(threading.Thread):
    """Sends a request one byte a second; notes whether the server cut it off."""

    def __init__(self):
        super().__init__(daemon=True)
        self.sent = 0
        self.cut = False
        self.sock = socket.create_connection(ADDRESS, timeout=30)

    def run(self):
        request = b"GET /metrics HTTP/1.1\r\nHost: slow\r\nX-Slow: " + b"a" * 40 + b"\r\n\r\n"
        try:
            for byte in request:
                self.sock.sendall(bytes([byte]))
                self.sent += 1
                time.sleep(1)
                # A server that gave up on us closes the connection: the peer sees it as
                # readable with nothing (or an error answer) to read.
                self.sock.settimeout(0)
                try:
                    if self.sock.recv(4096) is not None:
                        self.cut = True
                        return
                except BlockingIOError:
                    pass
                finally:
                    self.sock.settimeout(30)
        except OSError:
            self.cut = True
        finally:
            self.sock.close()


def bad_input():
    slow = [SlowClient() for _ in range(3)]
    for client in slow:
        client.start()
    wait_until(lambda: all(c.sent >= 2 for c in slow), 10)
    # Others are answered while the slow clients hold their connections.
    during = {"healthz": http_get("/healthz")[0], "metrics": http_get("/metrics")[0]}
    during["slow_clients_still_sending"] = all(not c.cut for c in slow)
    outcomes = {
        "during_slow_clients": during,
        "garbage": raw_request(b"GARBAGE\r\n\r\n"),
        "binary": raw_request(bytes(range(256)) + b"\r\n\r\n"),
        "no_version": raw_request(b"GET /metrics\r\n\r\n"),
        "huge_header": raw_request(b"GET /metrics HTTP/1.1\r\nX-Big: " + b"b" * 65536 + b"\r\n\r\n"),
        "many_headers": raw_request(b"GET /metrics HTTP/1.1\r\n" +
                                    b"".join(b"X-H%d: %s\r\n" % (i, b"c" * 500) for i in range(200)) +
                                    b"\r\n"),
        "post": raw_request(b"POST /metrics HTTP/1.1\r\nContent-Length: 4\r\n\r\nabcd"),
        "unknown_path": http_get("/nothing")[0],
    }
    for client in slow:
        client.join(60)
    outcomes["slow_clients_cut"] = [c.cut for c in slow]
    outcomes["slow_clients_bytes_sent"] = [c.sent for c in slow]
    result["bad_input"] = outcomes
    mark("bad input")


def busy_card():
    busy, other = os.environ["BUSY_PRODUCT"], os.environ["OTHER_PRODUCT"]
    before = product_value(http_get("/metrics")[2], "qrt_reading_timestamp_seconds", other)
    subprocess.run([os.environ["QRT_SIM"], "--control",
                    os.environ["BUSY_SECTION"] + " fault pcimap status 255"], check=True,
                   stdout=subprocess.DEVNULL)

    def down():
        text = http_get("/metrics")[2]
        if product_value(text, "qrt_up", busy) == 0:
            return text
        return None

    text = wait_until(down, 60)
    # The other card goes on being read while this one is down.
    other_read = wait_until(
        lambda: (lambda t: product_value(t, "qrt_up", busy) == 0 and
                 (product_value(t, "qrt_reading_timestamp_seconds", other) or 0) > (before or 0))(
            http_get("/metrics")[2]), 60) is not None
    subprocess.run([os.environ["QRT_SIM"], "--control", os.environ["BUSY_SECTION"] + " clear"],
                   check=True, stdout=subprocess.DEVNULL)
    result["busy"] = {
        "down": text is not None,
        "status": product_value(text or "", "qrt_reading_status", busy),
        "kept_measurements": product_value(text or "", "qrt_reading_timestamp_seconds", busy)
                             is not None,
        "other_up": product_value(text or "", "qrt_up", other),
        "other_read_meanwhile": other_read,
    }
    result["busy"]["up_again"] = wait_until(
        lambda: product_value(http_get("/metrics")[2], "qrt_up", busy) == 1, 60) is not None
    mark("busy card")


def prometheus():
    config = os.path.join(work, "prometheus.yml")
    with open(config, "w") as out:
        out.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                  "scrape_configs:\n  - job_name: qrt\n    static_configs:\n"
                  "      - targets: ['%s:%d']\n" % ADDRESS)
    log = open(os.path.join(work, "prometheus.log"), "w")
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    server = subprocess.Popen([os.environ["PROMETHEUS"], "--config.file=" + config,
                               "--storage.tsdb.path=" + os.path.join(work, "tsdb"),
                               "--web.listen-address=" + PROMETHEUS_ADDRESS],
                              stdout=log, stderr=log, env=env)
    try:
        def query(expression):
            url = "http://%s/api/v1/query?%s" % (PROMETHEUS_ADDRESS,
                                                 urllib.parse.urlencode({"query": expression}))
            try:
                with urllib.request.urlopen(url, timeout=5) as response:
                    return json.load(response)["data"]["result"]
            except OSError:
                return None

        found = wait_until(lambda: query("qrt_poe_temperature_celsius"), 60)
        mark("prometheus scraped")
        names = sorted({s["metric"]["__name__"] for s in query('{__name__=~"qrt_.+"}') or []})
        up = query('up{job="qrt"}') or []
        result["prometheus"] = {
            "scraped": found is not None,
            "target_up": [float(s["value"][1]) for s in up],
            "names": names,
        }
    finally:
        server.terminate()
        server.wait(30)
        log.close()
        mark("prometheus stopped")


def main():
    exporter_log = open(os.path.join(work, "exporter.log"), "w")
    exporter = subprocess.Popen([os.environ["EXPORTER"], "--listen", "%s:%d" % ADDRESS,
                                 "--interval", "1"], stderr=exporter_log)
    try:
        result["healthz"] = wait_until(lambda: http_get("/healthz", timeout=2)[0] == 200
                                       if exporter.poll() is None else None, 60) is not None
        # Every product read once: each has its reading timestamp.
        def all_read():
            text = http_get("/metrics")[2]
            products = samples(text).get("qrt_products")
            read = text.count("\nqrt_reading_timestamp_seconds{")
            return text if products and read == products else None

        text = wait_until(all_read, 90)
        if text is None:
            text = http_get("/metrics")[2]
        mark("every product read")
        with open(os.path.join(work, "exposition.txt"), "w") as out:
            out.write(text)
        check = subprocess.run([os.environ["PROMTOOL"], "check", "metrics"], input=text.encode(),
                               capture_output=True)
        result["promtool"] = {"status": check.returncode,
                              "output": (check.stdout + check.stderr).decode()}
        status, content_type, om = http_get(
            "/metrics", {"Accept": "application/openmetrics-text;version=1.0.0,text/plain;q=0.5"})
        result["openmetrics"] = {"content_type": content_type, "eof": om.endswith("# EOF\n")}
        result["families"] = sorted({line.split()[2] for line in text.splitlines()
                                     if line.startswith("# TYPE ")})
        threads = [threading.Thread(target=f) for f in (bad_input, busy_card, prometheus)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(180)
        result["after_all"] = http_get("/metrics")[0]
    finally:
        exporter.terminate()
        try:
            result["exit_status"] = exporter.wait(30)
        except subprocess.TimeoutExpired:
            exporter.kill()
            result["exit_status"] = "hung"
        exporter_log.close()
        mark("exporter stopped")
    with open(os.path.join(work, "exporter.log")) as log:
        result["log"] = log.read()
    print(json.dumps(result))


if __name__ == "__main__":
    sys.exit(main())
