"""A private sshd on loopback ports, started and stopped by the tests, and the ssh that kor runs
to reach it: a wrapper first on PATH that gives ssh a private configuration, key and
known-hosts file. No system service and no real ~/.ssh is touched."""
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SSHD = "/usr/sbin/sshd"  # sshd wants to be started by its absolute path

SSHD_CONFIG = """\
ListenAddress 127.0.0.1
{ports}
HostKey {dir}/host_key
PidFile {dir}/sshd.pid
AuthorizedKeysFile {dir}/authorized_keys
StrictModes no
PermitRootLogin yes
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PrintMotd no
PrintLastLog no
UseDNS no
LogLevel VERBOSE
MaxStartups 100
# The remote shells keep their files in a home of the test's, never the user's real one.
SetEnv HOME={dir}/remote-home
Match LocalPort {password_port}
  PasswordAuthentication yes
{shell_matches}"""

SSH_CONFIG = """\
Host *
  IdentityFile {dir}/{identity}
  IdentitiesOnly yes
  UserKnownHostsFile {dir}/known_hosts
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking {strict}
  UpdateHostKeys no
  ConnectTimeout 20
  ServerAliveInterval 0
  LogLevel ERROR
"""


def free_ports(count):
    sockets = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        sockets.append(s)
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


def keygen(path, passphrase=""):
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", passphrase, "-C", "korctl-test", "-f", path],
                   check=True, stdin=subprocess.DEVNULL)


class Sshd:
    """sshd on one port per login shell (bash on the first, the others through ForceCommand)
    and a port that also takes passwords; keys and configuration in a temporary directory."""

    def __init__(self, shells=("/bin/bash", "/usr/bin/zsh")):
        self.dir = tempfile.mkdtemp(prefix="sshd", dir="/tmp")
        self.user = pwd.getpwuid(os.getuid()).pw_name
        os.makedirs(os.path.join(self.dir, "remote-home"))
        keygen(os.path.join(self.dir, "host_key"))
        keygen(os.path.join(self.dir, "id_key"))
        keygen(os.path.join(self.dir, "locked_key"), passphrase="open sesame")
        with open(os.path.join(self.dir, "authorized_keys"), "w") as f:
            for key in ("id_key", "locked_key"):
                f.write(open(os.path.join(self.dir, key + ".pub")).read())
        self.host_key = open(os.path.join(self.dir, "host_key.pub")).read().split()[:2]
        self.shells = list(shells)
        self.proc = None
        self.start()

    def start(self):
        """Starts sshd on fresh ports (retried if a port was taken meanwhile)."""
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)  # sshd's privilege-separation directory
        for _ in range(5):
            ports = free_ports(len(self.shells) + 1)
            self.ports = dict(zip(self.shells, ports))
            self.password_port = ports[-1]
            matches = "".join(f"Match LocalPort {port}\n  ForceCommand exec {shell} -l\n"
                              for shell, port in self.ports.items() if shell != self.shells[0])
            config = SSHD_CONFIG.format(dir=self.dir, ports="".join(f"Port {p}\n" for p in ports),
                                        password_port=self.password_port, shell_matches=matches)
            with open(os.path.join(self.dir, "sshd_config"), "w") as f:
                f.write(config)
            self.proc = subprocess.Popen([SSHD, "-D", "-f", os.path.join(self.dir, "sshd_config"),
                                          "-E", os.path.join(self.dir, "sshd.log")],
                                         stdin=subprocess.DEVNULL, start_new_session=True)
            if self.wait_listening(ports):
                return
            self.stop()
        raise RuntimeError("sshd did not start: " + self.log())

    def wait_listening(self, ports, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            try:
                for port in ports:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def log(self):
        try:
            return open(os.path.join(self.dir, "sshd.log")).read()
        except OSError:
            return ""

    def host(self, shell=None, port=None):
        """The HOST word of `korctl open` for a login with this shell (or to this port)."""
        return f"{self.user}@127.0.0.1:{port or self.ports[shell or self.shells[0]]}"

    def client(self, name, identity="id_key", known=True, strict="yes", known_key=None):
        """A directory with an `ssh` wrapper for PATH: a private ssh_config, the given key, and a
        known-hosts file that holds the host key (or known_key, or nothing)."""
        path = os.path.join(self.dir, "client-" + name)
        os.makedirs(path)
        with open(os.path.join(path, "known_hosts"), "w") as f:
            if known:
                kind, key = known_key or self.host_key
                for port in list(self.ports.values()) + [self.password_port]:
                    f.write(f"[127.0.0.1]:{port} {kind} {key}\n")
        with open(os.path.join(path, "ssh_config"), "w") as f:
            f.write(SSH_CONFIG.format(dir=self.dir, identity=identity, strict=strict)
                    .replace(f"{self.dir}/known_hosts", os.path.join(path, "known_hosts")))
        wrapper = os.path.join(path, "ssh")
        with open(wrapper, "w") as f:
            f.write(f'#!/bin/sh\nexec /usr/bin/ssh -F {path}/ssh_config "$@"\n')
        os.chmod(wrapper, 0o755)
        return path

    def connection_pids(self):
        """Every process below the listener: each connection's sshd and what it runs."""
        parents = {}
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/stat") as f:
                    parents[int(pid)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, ValueError, IndexError):
                continue
        below = set()
        changed = True
        while changed and self.proc:
            changed = False
            for pid, parent in parents.items():
                if pid not in below and (parent == self.proc.pid or parent in below):
                    below.add(pid)
                    changed = True
        return sorted(below)

    def drop_connections(self):
        """The remote side goes away: every connection's sshd and remote shell is killed."""
        for pid in self.connection_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.drop_connections()
            self.proc.kill()
            self.proc.wait()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
