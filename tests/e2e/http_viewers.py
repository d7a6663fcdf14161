#!/usr/bin/env python3
"""The real program's HTTP answers, seen by real clients.

    http_viewers.py caching-proxy VORSK   many viewers through nginx, set up as README says, reach vorsk
                                          once per interval
    http_viewers.py live-stream VORSK     /stream, the HTTP answers, and header-less answers when off

Each run has its own settings file, HOME and picture folder in a temporary
folder, and ends every process it started. Exit status 0 passes, 1 fails,
77 skips (nginx, its configuration or curl missing).
"""

import ctypes
import grp
import http.client
import os
import pwd
import random
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
NGINX = "/usr/sbin/nginx"
INTERVAL = 1

VIEWERS = 50
REQUESTS_EACH = 10
REQUEST_GAP = 0.2


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def die_with_parent():
    # Whatever ends this script (ctest's time-out included), its servers go too.
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def whole_jpeg(data):
    return len(data) > 4 and data.startswith(b"\xff\xd8") and data.endswith(b"\xff\xd9")


class Run:
    """The temporary folder and the processes of one run."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vorsk-e2e-")
        self.processes = []

    def path(self, *names):
        return os.path.join(self.root, *names)

    def start(self, argv, env=None, stdout=None, stderr=None):
        process = subprocess.Popen(argv, env=env, stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL,
                                   preexec_fn=die_with_parent)
        self.processes.append(process)
        return process

    def stop(self, process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def close(self):
        for process in reversed(self.processes):
            self.stop(process)
        shutil.rmtree(self.root, ignore_errors=True)


class Vorsk:
    """vorsk --headless with the test pattern and a settings file of its own."""

    def __init__(self, run, binary, name, headers):
        self.port = free_port()
        home = run.path(name)
        for folder in ("home", "tmp", "runtime"):
            os.makedirs(os.path.join(home, folder), mode=0o700)
        self.config = os.path.join(home, "vorsk.conf")
        with open(self.config, "w") as settings:
            settings.write(f"[prefs]\nport={self.port}\ninterval={INTERVAL}\nwidth=320\nheight=240\n"
                           f"maxcon=20\n\n[server]\nheaders={'True' if headers else 'False'}\n")
        env = dict(os.environ, HOME=os.path.join(home, "home"), TMPDIR=os.path.join(home, "tmp"),
                   XDG_CONFIG_HOME=os.path.join(home, "home", ".config"),
                   XDG_RUNTIME_DIR=os.path.join(home, "runtime"), VORSK_CAMERA="test")
        self.log = os.path.join(home, "stdout.log")
        self.errors = os.path.join(home, "stderr.log")
        with open(self.log, "wb") as out, open(self.errors, "wb") as err:
            self.process = run.start([binary, "--headless", "--config", self.config], env=env, stdout=out, stderr=err)
        self.url = f"http://127.0.0.1:{self.port}"

    def output(self):
        with open(self.log, "rb") as out:
            return out.read().decode(errors="replace")

    def why(self):
        with open(self.errors, "rb") as err:
            return f"stdout:\n{self.output()}\nstderr:\n{err.read().decode(errors='replace')}"

    def wait_until_serving(self):
        for _ in range(100):
            check(self.process.poll() is None, f"vorsk ended with {self.process.returncode}\n{self.why()}")
            if f"serving on port {self.port}" in self.output():
                return
            time.sleep(0.1)
        raise Failure(f"vorsk does not say it serves\n{self.why()}")

    def wait_for_picture(self):
        # The first picture is taken at the start; until it is there the
        # answer is 503.
        status = None
        for _ in range(100):
            try:
                status, _, _ = get("127.0.0.1", self.port, "/")
                if status == 200:
                    return
            except (OSError, http.client.HTTPException):
                pass
            time.sleep(0.1)
        raise Failure(f"vorsk never answered 200 (last status {status})\n{self.why()}")

    @staticmethod
    def connections_logged(text):
        # "<time stamp> Accepted connection from: 127.0.0.1", one per connection.
        return len(re.findall(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d .*127\.0\.0\.1$", text, re.MULTILINE))


def get(host, port, target, method="GET"):
    connection = http.client.HTTPConnection(host, port, timeout=15)
    try:
        connection.request(method, target)
        response = connection.getresponse()
        return response.status, dict((k.lower(), v) for k, v in response.getheaders()), response.read()
    finally:
        connection.close()


def curl(*arguments, timeout=20):
    return subprocess.run(["curl", *arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)


def stream_parts(url, seconds, head_file):
    """The whole JPEG parts of a live stream read for some seconds with curl,
    and its Content-Type; a part cut off by the end of the reading is left out."""
    result = curl("-sN", "--max-time", str(seconds), "-D", head_file, url, timeout=seconds + 10)
    # 28: the time was up, as it must be for a stream that does not end.
    check(result.returncode == 28, f"curl {url}: status {result.returncode} {result.stderr.decode()}")
    with open(head_file, "rb") as head:
        fields = head.read().decode(errors="replace")
    kind = re.search(r"^content-type:\s*(.*?)\s*$", fields, re.IGNORECASE | re.MULTILINE)
    check(kind is not None, f"no Content-Type in the stream's head:\n{fields}")
    boundary = re.search(r"boundary=([^;\s]+)", kind.group(1))
    check(boundary is not None, f"no boundary in {kind.group(1)}")
    delimiter = b"--" + boundary.group(1).encode()
    data, parts, at = result.stdout, [], 0
    while True:
        check(data.startswith(delimiter + b"\r\n", at) or len(data) - at < len(delimiter) + 2,
              f"part {len(parts) + 1} does not start with {delimiter!r}: {data[at:at + 40]!r}")
        head_end = data.find(b"\r\n\r\n", at)
        if head_end < 0:
            break
        head = data[at:head_end].decode(errors="replace")
        check(re.search(r"^content-type:\s*image/jpeg\s*$", head, re.IGNORECASE | re.MULTILINE) is not None,
              f"part {len(parts) + 1} is no JPEG: {head!r}")
        length = re.search(r"^content-length:\s*(\d+)\s*$", head, re.IGNORECASE | re.MULTILINE)
        check(length is not None, f"part {len(parts) + 1} has no Content-Length: {head!r}")
        start = head_end + 4
        end = start + int(length.group(1))
        if end + 2 > len(data):
            break
        picture = data[start:end]
        check(whole_jpeg(picture), f"part {len(parts) + 1} is no whole JPEG")
        check(data[end:end + 2] == b"\r\n", f"part {len(parts) + 1} does not end with CRLF")
        parts.append(picture)
        at = end + 2
    return kind.group(1), parts


README = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "README.md")


def readme_recipe():
    """The commands and the nginx site of README's section on the caching proxy."""
    with open(README) as file:
        text = file.read()
    section = text[text.index("## Many viewers"):]
    section = section[:section.index("\n## ")]
    blocks = dict(re.findall(r"^```(\w+)\n(.*?)^```$", section, re.MULTILINE | re.DOTALL))
    check("sh" in blocks and "nginx" in blocks, "README's caching proxy section has no sh or no nginx block")
    return blocks["sh"], blocks["nginx"]


class StockNginx:
    """A copy of the system's own /etc/nginx, Debian's default site and all, run
    as the user running the test: every path it writes and every port 80 moved
    into the run's folder and a free port, nothing else changed."""

    def __init__(self, run, vorsk_port):
        self.port = free_port()
        self.vorsk_port = vorsk_port
        self.folder = run.path("nginx")
        self.etc = os.path.join(self.folder, "etc")
        # Links followed: the copy's enabled default site is a file of its own.
        shutil.copytree("/etc/nginx", self.etc)
        for top, _, names in os.walk(self.etc):
            for name in names:
                path = os.path.join(top, name)
                with open(path, errors="surrogateescape") as file:
                    text = file.read()
                with open(path, "w", errors="surrogateescape") as file:
                    file.write(self.moved(text))
        # As root the workers would become www-data, who cannot enter the run's folder.
        main = os.path.join(self.etc, "nginx.conf")
        with open(main) as file:
            text = file.read()
        user = ""
        if os.geteuid() == 0:
            user = f"user {pwd.getpwuid(os.geteuid()).pw_name} {grp.getgrgid(os.getegid()).gr_name};"
        text = re.sub(r"^user .*;$", user, text, flags=re.MULTILINE)
        with open(main, "w") as file:
            file.write(text)
        with open(os.path.join(self.etc, "conf.d", "vorsk-test-temp.conf"), "w") as file:
            file.write("".join(f"{kind}_temp_path {self.folder}/{kind}_temp;\n"
                               for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")))

    def moved(self, text):
        text = text.replace("/etc/nginx", self.etc).replace("/var/log/nginx", self.folder)
        text = text.replace("/run/nginx.pid", f"{self.folder}/nginx.pid")
        text = text.replace("/var/cache/nginx-vorsk", f"{self.folder}/cache")
        text = text.replace("127.0.0.1:8080", f"127.0.0.1:{self.vorsk_port}")
        return re.sub(r"(listen\s+(?:\[::\]:)?)80\b", rf"\g<1>{self.port}", text)

    def nginx(self, *arguments):
        # The compiled-in prefix stays, where the stock modules are found.
        return [NGINX, "-c", os.path.join(self.etc, "nginx.conf"),
                "-e", os.path.join(self.folder, "error.log"), *arguments]

    def follow(self, commands, site, run):
        """README's commands, one by one, on the copy; the editor writes the site."""
        process = None
        for line in commands.splitlines():
            line = line.split("#", 1)[0].replace("sudo ", "").strip()
            for command in filter(None, (part.strip() for part in line.split("&&"))):
                words = shlex.split(self.moved(command))
                if words[0] == "editor":
                    with open(words[1], "w") as file:
                        file.write(self.moved(site))
                elif words[:2] == ["nginx", "-t"]:
                    test = subprocess.run(self.nginx("-t"), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                    check(test.returncode == 0, f"nginx -t on README's recipe:\n{test.stdout.decode()}")
                elif words[:2] == ["systemctl", "reload"]:
                    process = run.start(self.nginx("-g", "daemon off;"), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.STDOUT)
                elif words[0] in ("ln", "rm"):
                    done = subprocess.run(words, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                    check(done.returncode == 0, f"README's {command!r}: {done.stdout.decode()}")
                else:
                    raise Failure(f"README's {command!r} is unknown to this test")
        check(process is not None, "README's commands never start nginx")
        return process

    def wait_until_listening(self, process):
        for _ in range(100):
            if process.poll() is not None:
                with open(os.path.join(self.folder, "error.log")) as log:
                    raise Failure(f"nginx ended with {process.returncode}:\n{log.read()}")
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise Failure("nginx does not listen")


def start_nginx(run, vorsk_port):
    """nginx on a copy of the system's configuration, set up as README says."""
    nginx = StockNginx(run, vorsk_port)
    commands, site = readme_recipe()
    nginx.wait_until_listening(nginx.follow(commands, site, run))
    return nginx.port, nginx.folder


def many_viewers(port, starting):
    """VIEWERS clients, each asking REQUEST_GAP apart with its own cache-buster,
    as a browser's refresh does; all of them at the same moments, so the
    proxy's first request for a picture always has company.
    Every answer: (status, Content-Length, body)."""
    answers = [[] for _ in range(VIEWERS)]

    def viewer(number):
        for request in range(REQUESTS_EACH):
            due = starting + request * REQUEST_GAP
            time.sleep(max(0.0, due - time.monotonic()))
            try:
                status, fields, body = get("127.0.0.1", port, f"/?{random.randrange(10**9)}")
                answers[number].append((status, fields.get("content-length"), body))
            except (OSError, http.client.HTTPException) as error:
                answers[number].append((repr(error), None, b""))

    threads = [threading.Thread(target=viewer, args=(number,)) for number in range(VIEWERS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return [answer for each in answers for answer in each]


def settled_output(vorsk):
    # Log lines reach stdout through the program's event loop a moment after
    # the connection: wait until nothing new comes.
    text = vorsk.output()
    for _ in range(20):
        time.sleep(0.25)
        newer = vorsk.output()
        if newer == text:
            return text
        text = newer
    return text


def caching_proxy(binary):
    for tool, path in (("nginx", NGINX), ("curl", shutil.which("curl"))):
        if not path or not os.access(path, os.X_OK):
            print(f"SKIP: {tool} is not installed (nginx-light, curl)", file=sys.stderr)
            return SKIP
    if not os.path.isfile("/etc/nginx/nginx.conf"):
        print("SKIP: nginx has no configuration of its own in /etc/nginx", file=sys.stderr)
        return SKIP
    run = Run()
    try:
        vorsk = Vorsk(run, binary, "vorsk", headers=True)
        vorsk.wait_until_serving()
        vorsk.wait_for_picture()
        proxy_port, nginx_folder = start_nginx(run, vorsk.port)

        before = settled_output(vorsk)
        starting = time.monotonic() + 0.1
        answers = many_viewers(proxy_port, starting)
        window = time.monotonic() - starting
        reached = vorsk.connections_logged(settled_output(vorsk)[len(before):])

        bound = window / INTERVAL + 1
        print(f"{len(answers)} requests from {VIEWERS} viewers in {window:.2f} s; {reached} reached vorsk "
              f"(at most {bound:.2f} allowed)")

        check(len(answers) == VIEWERS * REQUESTS_EACH, f"{len(answers)} answers")
        bad = [(status, length, len(body), body[:2].hex(), body[-2:].hex())
               for status, length, body in answers
               if status != 200 or length is None or int(length) != len(body) or not whole_jpeg(body)]
        check(not bad, f"{len(bad)} answers are no whole picture with status 200, e.g. {bad[:5]}")
        check(reached >= 1, "no request reached vorsk: the picture cannot have come from it")
        check(reached <= bound, f"{reached} requests reached vorsk in {window:.2f} s with interval {INTERVAL}")

        # The live stream passes through the same site, unbuffered.
        kind, parts = stream_parts(f"http://127.0.0.1:{proxy_port}/stream", 5,
                                   os.path.join(nginx_folder, "stream.head"))
        print(f"through nginx: {len(parts)} whole stream parts in 5 s ({kind})")
        check(len(parts) >= 3, f"{len(parts)} whole parts came through nginx")
        return 0
    finally:
        run.close()


def live_stream(binary):
    if not shutil.which("curl"):
        print("SKIP: curl is not installed", file=sys.stderr)
        return SKIP
    run = Run()
    try:
        vorsk = Vorsk(run, binary, "headers", headers=True)
        vorsk.wait_until_serving()
        vorsk.wait_for_picture()

        picture = curl("-sS", "--fail", vorsk.url + "/")
        check(picture.returncode == 0, f"curl --fail: {picture.returncode} {picture.stderr.decode()}")
        check(whole_jpeg(picture.stdout), "curl --fail got no whole JPEG")

        head = curl("-sS", "-I", vorsk.url + "/").stdout.decode(errors="replace")
        check(re.match(r"HTTP/1\.1 200 ", head) is not None, f"curl -I:\n{head}")
        check(re.search(r"^content-type: image/jpeg\r?$", head, re.IGNORECASE | re.MULTILINE) is not None,
              f"curl -I:\n{head}")

        status, fields, body = get("127.0.0.1", vorsk.port, "/")
        check(status == 200, f"http.client: status {status}")
        check(int(fields.get("content-length", -1)) == len(body) and whole_jpeg(body),
              f"http.client: Content-Length {fields.get('content-length')}, {len(body)} bytes read")
        # What a caching proxy goes by: keep it one capture interval.
        check(re.search(rf"\bmax-age={INTERVAL}\b", fields.get("cache-control", "")) is not None,
              f"Cache-Control: {fields.get('cache-control')}")

        kind, parts = stream_parts(vorsk.url + "/stream", 5, run.path("stream.head"))
        distinct = len(set(parts))
        print(f"/stream: {len(parts)} whole parts in 5 s, {distinct} different ({kind})")
        check(kind.lower().startswith("multipart/x-mixed-replace"), f"stream Content-Type {kind}")
        check(len(parts) >= 3, f"{len(parts)} whole parts in 5 s with interval {INTERVAL}")
        check(distinct > 1, "every part of the stream is the same picture")
        run.stop(vorsk.process)
        check(vorsk.process.returncode == 0, f"vorsk ended with {vorsk.process.returncode}\n{vorsk.why()}")

        # Without the box, the answers are as they always were: the bare picture.
        bare = Vorsk(run, binary, "bare", headers=False)
        bare.wait_until_serving()
        old = curl("-sS", "--http0.9", bare.url + "/")
        check(old.returncode == 0 and whole_jpeg(old.stdout),
              f"curl --http0.9: {old.returncode} {old.stderr.decode()} {old.stdout[:16]!r}")
        strict = curl("-sS", bare.url + "/")
        check(strict.returncode != 0, "plain curl took an answer without a status line")
        print(f"headers off: curl --http0.9 got {len(old.stdout)} bytes of JPEG; "
              f"plain curl: {strict.stderr.decode().strip()}")
        return 0
    finally:
        run.close()


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("caching-proxy", "live-stream"):
        print(__doc__, file=sys.stderr)
        return 2
    # ctest's time-out and Ctrl-C end the run in order, its processes with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    mode, binary = sys.argv[1], sys.argv[2]
    try:
        return caching_proxy(binary) if mode == "caching-proxy" else live_stream(binary)
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
