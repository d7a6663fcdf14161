#!/usr/bin/env python3
"""Who may watch, end to end: vorsk --headless with a viewer password, and the
site README.md shows for nginx speaking HTTPS in front of it, taken from
README.md as written, with a certificate made here by openssl.

    viewer_password.py VORSK README

Exit status 0 passes, 1 fails, 77 skips (nginx, curl or openssl missing).
"""

import base64
import grp
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from http_viewers import NGINX, SKIP, Failure, Run, check, curl, free_port, whole_jpeg  # noqa: E402

PASSWORD = "Tls2Watch-7"
# Credentials as README's site gives them to vorsk, in base64.
basic = lambda password: base64.b64encode(f"vorsk:{password}".encode()).decode()  # noqa: E731


def start_vorsk(run, binary):
    """The real program without a window, its settings file left open to
    others as a hand-made one often is."""
    port = free_port()
    home = run.path("vorsk")
    for folder in ("home", "tmp", "runtime"):
        os.makedirs(os.path.join(home, folder), mode=0o700)
    config = os.path.join(home, "vorsk.conf")
    with open(config, "w") as settings:
        settings.write(f"[prefs]\nport={port}\ninterval=1\nwidth=320\nheight=240\n\n"
                       f"[server]\nheaders=True\npassword={PASSWORD}\nlisten=127.0.0.1\n")
    os.chmod(config, 0o644)
    env = dict(os.environ, HOME=os.path.join(home, "home"), TMPDIR=os.path.join(home, "tmp"),
               XDG_CONFIG_HOME=os.path.join(home, "home", ".config"),
               XDG_RUNTIME_DIR=os.path.join(home, "runtime"), VORSK_CAMERA="test")
    out, err = os.path.join(home, "stdout.log"), os.path.join(home, "stderr.log")
    with open(out, "wb") as stdout, open(err, "wb") as stderr:
        process = run.start([binary, "--headless", "--config", config], env=env, stdout=stdout, stderr=stderr)
    for _ in range(100):
        with open(out) as log:
            if f"serving on port {port}" in log.read():
                return port, out, err
        check(process.poll() is None, f"vorsk ended with {process.returncode}")
        time.sleep(0.1)
    raise Failure("vorsk does not say it serves")


def readme_site(readme, replacements):
    """The nginx block of README's "Who may watch", with this run's places."""
    with open(readme) as file:
        text = file.read()
    section = text[text.index("## Who may watch"):]
    site = re.search(r"```nginx\n(.*?)```", section, re.DOTALL).group(1)
    for old, new in replacements:
        check(old in site, f"README's TLS site no longer holds {old!r}")
        site = site.replace(old, new)
    return site


def start_nginx(run, folder, site, port):
    # As root the workers would become nobody, who cannot read the run's folder.
    user = ""
    if os.geteuid() == 0:
        user = f"user {pwd.getpwuid(os.geteuid()).pw_name} {grp.getgrgid(os.getegid()).gr_name};\n"
    temp = "".join(f"    {kind}_temp_path {folder}/{kind}_temp;\n"
                   for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    config = (f"{user}worker_processes 1;\nevents {{ worker_connections 64; }}\nhttp {{\n{temp}"
              f"    log_format cache '$request_uri $status $upstream_cache_status';\n"
              f"    access_log {folder}/access.log cache;\n{site}}}\n")
    with open(f"{folder}/nginx.conf", "w") as file:
        file.write(config)
    error_log = f"{folder}/error.log"
    process = run.start([NGINX, "-p", folder, "-c", f"{folder}/nginx.conf", "-e", error_log,
                         "-g", f"daemon off; pid {folder}/nginx.pid; error_log {error_log};"],
                        stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    for _ in range(100):
        if process.poll() is not None:
            with open(error_log) as log:
                raise Failure(f"nginx ended with {process.returncode}:\n{log.read()}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise Failure("nginx does not listen")


def fetch(url, *options):
    """Status, head and body as curl got them."""
    got = curl("-sS", "-D", "-", *options, url)
    head, _, body = got.stdout.partition(b"\r\n\r\n")
    status = re.match(rb"HTTP/\S+ (\d+)", head)
    return (int(status.group(1)) if status else 0), head.decode(errors="replace"), body


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    for tool, path in (("nginx", NGINX), ("curl", shutil.which("curl")), ("openssl", shutil.which("openssl"))):
        if not path or not os.access(path, os.X_OK):
            print(f"SKIP: {tool} is not installed (nginx-light, curl, openssl)", file=sys.stderr)
            return SKIP
    binary, readme = sys.argv[1:]
    run = Run()
    try:
        vorsk_port, out, err = start_vorsk(run, binary)
        with open(err) as log:
            errors = log.read()
        check(errors.count("holds the viewers' password and others may read it") == 1,
              f"one warning for the settings file open to others:\n{errors}")
        check(PASSWORD not in errors, "the warning tells the password")
        direct = f"http://127.0.0.1:{vorsk_port}/"
        for _ in range(100):
            status, _, body = fetch(direct + f"?key={PASSWORD}")
            if status == 200:
                break
            time.sleep(0.1)
        check(status == 200 and whole_jpeg(body), f"vorsk with the key: {status}")
        status, head, _ = fetch(direct)
        check(status == 401 and 'WWW-Authenticate: Basic realm="Vorsk", charset="UTF-8"' in head,
              f"vorsk without the key: {status}\n{head}")

        folder = run.path("nginx")
        os.makedirs(folder)
        cert, key, users = (os.path.join(folder, name) for name in ("vorsk.crt", "vorsk.key", "vorsk.htpasswd"))
        made = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                               "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                               "-keyout", key, "-out", cert], capture_output=True)
        check(made.returncode == 0, f"openssl req: {made.stderr.decode()}")
        hashed = subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=PASSWORD.encode(), capture_output=True)
        check(hashed.returncode == 0, f"openssl passwd: {hashed.stderr.decode()}")
        with open(users, "w") as file:
            file.write(f"viewer:{hashed.stdout.decode().strip()}\n")
        port = free_port()
        site = readme_site(readme, [
            ("listen 443 ssl;", f"listen 127.0.0.1:{port} ssl;"),
            ("/etc/nginx/vorsk.crt", cert), ("/etc/nginx/vorsk.key", key), ("/etc/nginx/vorsk.htpasswd", users),
            ("/var/cache/nginx-vorsk-tls", os.path.join(folder, "cache")),
            ("127.0.0.1:8080", f"127.0.0.1:{vorsk_port}"), ("change-me", PASSWORD),
            (basic("change-me"), basic(PASSWORD))])
        start_nginx(run, folder, site, port)

        https = f"https://127.0.0.1:{port}/"
        tls = ("--cacert", cert)
        for options, target in ((("-u", f"viewer:{PASSWORD}"), "cam.jpg"), ((), f"?key={PASSWORD}"),
                                ((), f"cam.jpg?1&key={PASSWORD}")):
            status, head, body = fetch(https + target, *tls, *options)
            check(status == 200 and whole_jpeg(body), f"through nginx {options} {target}: {status}\n{head}")
            check(re.search(r"^Cache-Control: private, max-age=1\r?$", head, re.MULTILINE | re.IGNORECASE),
                  f"browsers are told the picture is private:\n{head}")
        # The cache holds the picture now; a caller without the password still gets none of it.
        for options, target in (((), ""), ((), "?key=wrong"), (("-u", "viewer:wrong"), ""), ((), "cam.jpg"),
                                ((), "stream")):
            status, head, body = fetch(https + target, *tls, *options)
            check(status == 401 and not whole_jpeg(body), f"through nginx without the password {options} "
                                                          f"{target}: {status}\n{head}")
        with open(os.path.join(folder, "access.log")) as log:
            served = [line.split() for line in log]
        check(any(entry[-1] == "HIT" for entry in served), f"the cache never answered:\n{served}")
        # Nothing a viewer sends through the site is a wrong key to vorsk: a second ?key= hidden in the
        # path, a wrong key beside right credentials, an encoded CR LF that would make a header line.
        split = f"%20HTTP/1.0%0D%0AAuthorization:%20Basic%20{basic('wrong')}%0D%0AX:"
        for _ in range(11):
            for options, target in (((), f"%3Fkey=x?key={PASSWORD}"), (("-u", f"viewer:{PASSWORD}"), "?key=no"),
                                    ((), f"{split}?key={PASSWORD}")):
                status, head, _ = fetch(https + target, *tls, *options)
                check(status == 200, f"through nginx {target}: {status}\n{head}")
        # A path that nginx decodes to /uptime is the picture to vorsk, and is kept as that.
        fetch(https + f"%75ptime?key={PASSWORD}", *tls)
        status, _, body = fetch(https + f"uptime?key={PASSWORD}", *tls)
        check(status == 200 and b"uptime" in body.lower(), f"the status page through nginx: {status} {body[:80]!r}")
        logged = open(out).read()
        check("wrong key" not in logged, f"a viewer's request reached vorsk as a wrong key:\n{logged}")
        stream = curl("-sS", "--max-time", "3", *tls, https + f"stream?key={PASSWORD}")
        check(b"\xff\xd8" in stream.stdout, f"no picture of the live stream came through nginx: {stream.stdout[:200]!r}")
        return 0
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    finally:
        run.close()


if __name__ == "__main__":
    sys.exit(main())
