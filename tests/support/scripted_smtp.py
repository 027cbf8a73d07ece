#!/usr/bin/env python3
"""Loopback SMTP server with scripted answers: scripted_smtp.py SCENARIO LOG_FILE [SECONDS [HOST]]. Prints its
port, then serves on HOST (default 127.0.0.1, or ::1) until killed, writing every line it receives to LOG_FILE.

Scenarios: login-plain (EHLO offers "AUTH LOGIN PLAIN"), auth-equals (only "AUTH=LOGIN"), plain-only,
ehlo-refused (EHLO gets 502, HELO works), no-auth (EHLO offers no AUTH), silent (says nothing), refuse-rcpt,
drip (a normal dialogue, every reply sent one byte at a time, SECONDS apart).
Peers that hold a client, SECONDS (default 1.5) setting their pace:
  trickle     a greeting that never ends, one byte every SECONDS; logs "<greeting>" once it has begun
  slow        a normal dialogue, every reply SECONDS late
  mute-ehlo   a greeting, then no answer to EHLO
  stall-data  a normal dialogue that stops reading after "354", with a small receive buffer
  full-queue  a listener whose queue of pending connections is full, so a connect is never answered
"""
import select
import socket
import socketserver
import sys
import threading
import time

SCENARIO = sys.argv[1]
LOG = sys.argv[2]
PACE = float(sys.argv[3]) if len(sys.argv) > 3 else 1.5
HOST = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
LOCK = threading.Lock()

EHLO = {
    "login-plain": b"250-localhost\r\n250-SIZE 10240000\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n",
    "auth-equals": b"250-localhost\r\n250-AUTH=LOGIN\r\n250 OK\r\n",
    "plain-only": b"250-localhost\r\n250 AUTH PLAIN\r\n",
    "ehlo-refused": b"502 5.5.1 EHLO not implemented\r\n",
    "no-auth": b"250-localhost\r\n250 SIZE 1000\r\n",
    "refuse-rcpt": b"250-localhost\r\n250 AUTH LOGIN\r\n",
    "slow": b"250-localhost\r\n250 AUTH LOGIN\r\n",
    "stall-data": b"250-localhost\r\n250 AUTH LOGIN\r\n",
    "drip": b"250-localhost\r\n250 AUTH LOGIN\r\n",
}


def log(line):
    with LOCK, open(LOG, "ab") as f:
        f.write(line)


def hold_forever():
    threading.Event().wait()


class Handler(socketserver.StreamRequestHandler):
    def reply(self, text):
        if SCENARIO == "slow":
            time.sleep(PACE)
        if SCENARIO == "drip":
            for i in range(len(text)):
                self.wfile.write(text[i : i + 1])
                time.sleep(PACE)
            return
        self.wfile.write(text)

    def handle(self):
        if SCENARIO == "silent":
            self.rfile.readline()
            return
        if SCENARIO == "trickle":
            self.wfile.write(b"220-")
            log(b"<greeting>\r\n")
            while True:
                time.sleep(PACE)
                self.wfile.write(b"x")
        # The text after the code has a blank as its fourth character too: a client that took "220 " for the
        # whole greeting would take the rest for the answer to its EHLO.
        self.reply(b"220 mx1 ESMTP scripted\r\n")
        in_data = False
        auth_step = 0
        while True:
            line = self.rfile.readline()
            if not line:
                return
            log(line)
            if in_data:
                if line == b".\r\n":
                    in_data = False
                    self.reply(b"250 2.0.0 queued\r\n")
                continue
            command = line.strip().upper()
            if auth_step:
                auth_step -= 1
                self.reply(b"334 UGFzc3dvcmQ6\r\n" if auth_step else b"235 2.7.0 Authentication successful\r\n")
            elif command.startswith(b"EHLO"):
                if SCENARIO == "mute-ehlo":
                    hold_forever()
                self.reply(EHLO[SCENARIO])
            elif command.startswith(b"HELO"):
                self.reply(b"250 localhost\r\n")
            elif command == b"AUTH LOGIN":
                auth_step = 2
                self.reply(b"334 VXNlcm5hbWU6\r\n")
            elif command == b"AUTH PLAIN":
                auth_step = 1
                self.reply(b"334 \r\n")
            elif command.startswith(b"MAIL FROM"):
                self.reply(b"250 2.1.0 Ok\r\n")
            elif command.startswith(b"RCPT TO"):
                refuse = SCENARIO == "refuse-rcpt"
                self.reply(b"550 5.1.1 No such user here\r\n" if refuse else b"250 2.1.5 Ok\r\n")
            elif command == b"DATA":
                in_data = True
                self.reply(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                if SCENARIO == "stall-data":
                    hold_forever()
            elif command == b"RSET":
                self.reply(b"250 2.0.0 Ok\r\n")
            elif command == b"QUIT":
                self.reply(b"221 2.0.0 Bye\r\n")
                return
            else:
                self.reply(b"500 unknown\r\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    address_family = socket.AF_INET6 if ":" in HOST else socket.AF_INET

    def server_bind(self):
        if SCENARIO == "stall-data":
            # Accepted sockets inherit it: the client's data soon has nowhere to go.
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        super().server_bind()


def full_queue():
    """A listener that never accepts, its queue filled by connections of its own until one stays unanswered."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    while True:
        filler = socket.socket()
        filler.setblocking(False)
        filler.connect_ex(("127.0.0.1", port))
        fillers.append(filler)
        if not select.select([], [filler], [], 0.5)[1]:
            break
    print(port, flush=True)
    hold_forever()


if SCENARIO == "full-queue":
    full_queue()
server = Server((HOST, 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
