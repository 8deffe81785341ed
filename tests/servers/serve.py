#!/usr/bin/python3
"""Starts and stops the tests' HTTP servers on 127.0.0.1.

    serve.py start STATE_DIR     nginx and the fault server, on free ports
    serve.py stop STATE_DIR      ends exactly the processes that start began

ctest runs these as the set-up and clean-up steps of the "http_servers"
fixture; a test program finds the servers through STATE_DIR/servers.txt:

    nginx_port=...      nginx serving STATE_DIR/www (also under /slow/, rate-limited)
    fault_port=...      fault_server.py (see its routes)
    refused_port=...    a port on which connections are refused
    nginx_root=...      STATE_DIR/www; tests may add files there

Every process is recorded in STATE_DIR/pids with the text its command line
holds; stop ends only a pid whose command line still holds that text, first
with SIGTERM, then SIGKILL. The fault server ends itself and nginx after
--lifetime seconds (default 30 minutes) if stop never runs.
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
NGINX = "/usr/sbin/nginx"
PYTHON = "/usr/bin/python3"
LIFETIME = 1800


def pattern(start, length):
    return bytes(((i * 31 + (i >> 11)) & 0xFF) for i in range(start, start + length))


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def proc_cmdline(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace")
    except OSError:
        return None


def spawn(argv, log_path):
    log = open(log_path, "ab")
    # A session of its own: not ended by a signal to ctest's process group, and
    # not waiting on ctest's pipes.
    return subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                            start_new_session=True, close_fds=True)


def write_files(root):
    shutil.rmtree(root, ignore_errors=True)  # nothing a previous run published
    os.makedirs(root)
    files = {
        "pattern-1m.bin": pattern(0, 1048576 + 7),
        "pattern-100k.bin": pattern(0, 100000),
        "small.bin": pattern(0, 500),
        "empty.bin": b"",
    }
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)


def start_nginx(state, root):
    with open(os.path.join(HERE, "nginx.conf.in")) as f:
        template = f.read()
    os.makedirs(os.path.join(state, "nginx-tmp"), exist_ok=True)
    conf = os.path.join(state, "nginx.conf")
    for attempt in range(5):
        port = free_port()
        with open(conf, "w") as f:
            f.write(template.replace("@STATE@", state).replace("@ROOT@", root).replace("@PORT@", str(port)))
        proc = spawn([NGINX, "-e", os.path.join(state, "nginx-error.log"), "-p", state, "-c", conf],
                     os.path.join(state, "nginx-out.log"))
        for _ in range(100):
            if proc.poll() is not None:
                break  # the port was taken between free_port() and nginx's bind: try another
            if accepts(port):
                return proc.pid, port
            time.sleep(0.1)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    sys.exit("serve.py: nginx did not start; see %s/nginx-error.log" % state)


def start_fault_server(state, nginx_pid):
    port_file = os.path.join(state, "fault.ports")
    if os.path.exists(port_file):
        os.remove(port_file)
    proc = spawn([PYTHON, os.path.join(HERE, "fault_server.py"), "--port-file", port_file,
                  "--www", os.path.join(state, "www"),
                  "--lifetime", str(LIFETIME), "--also-stop", str(nginx_pid),
                  "--also-stop-match", state],
                 os.path.join(state, "fault-server.log"))
    for _ in range(100):
        if os.path.exists(port_file):
            with open(port_file) as f:
                text = f.read()
            ports = dict(line.split("=", 1) for line in text.split())
            if accepts(int(ports["fault_port"])):
                return proc.pid, text
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    sys.exit("serve.py: the fault server did not start; see %s/fault-server.log" % state)


def stop(state):
    pids_path = os.path.join(state, "pids")
    if not os.path.exists(pids_path):
        return
    with open(pids_path) as f:
        entries = [line.split(" ", 1) for line in f.read().splitlines() if line]
    for pid_text, match in entries:
        pid = int(pid_text)
        line = proc_cmdline(pid)
        if not line or match not in line:
            continue  # already gone, or the pid now belongs to someone else
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            if not proc_cmdline(pid):  # gone, or a zombie waiting for init
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
    os.remove(pids_path)
    info = os.path.join(state, "servers.txt")
    if os.path.exists(info):
        os.remove(info)


def start(state):
    stop(state)  # a previous run that lost its clean-up step
    os.makedirs(state, exist_ok=True)
    root = os.path.join(state, "www")
    write_files(root)
    nginx_pid, nginx_port = start_nginx(state, root)
    with open(os.path.join(state, "pids"), "w") as f:
        f.write("%d %s\n" % (nginx_pid, state))
    fault_pid, fault_ports = start_fault_server(state, nginx_pid)
    with open(os.path.join(state, "pids"), "a") as f:
        f.write("%d %s\n" % (fault_pid, os.path.join(state, "fault.ports")))
    tmp = os.path.join(state, "servers.txt.tmp")
    with open(tmp, "w") as f:
        f.write("nginx_port=%d\n%snginx_root=%s\n" % (nginx_port, fault_ports, root))
    os.replace(tmp, os.path.join(state, "servers.txt"))
    print("servers: nginx on 127.0.0.1:%d (pid %d), fault server pid %d; %s"
          % (nginx_port, nginx_pid, fault_pid, fault_ports.replace("\n", " ")))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    state = os.path.abspath(sys.argv[2])
    if sys.argv[1] == "start":
        start(state)
    else:
        stop(state)


if __name__ == "__main__":
    main()
