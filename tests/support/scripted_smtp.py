#!/usr/bin/env python3
"""Loopback SMTP server with scripted answers: scripted_smtp.py SCENARIO LOG_FILE. Prints its port, then serves
until killed, writing every line it receives to LOG_FILE.

Scenarios: login-plain (EHLO offers "AUTH LOGIN PLAIN"), auth-equals (only "AUTH=LOGIN"), plain-only,
ehlo-refused (EHLO gets 502, HELO works), no-auth (EHLO offers no AUTH), silent (says nothing), refuse-rcpt.
"""
import socketserver
import sys
import threading

SCENARIO = sys.argv[1]
LOG = sys.argv[2]
LOCK = threading.Lock()

EHLO = {
    "login-plain": b"250-localhost\r\n250-SIZE 10240000\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n",
    "auth-equals": b"250-localhost\r\n250-AUTH=LOGIN\r\n250 OK\r\n",
    "plain-only": b"250-localhost\r\n250 AUTH PLAIN\r\n",
    "ehlo-refused": b"502 5.5.1 EHLO not implemented\r\n",
    "no-auth": b"250-localhost\r\n250 SIZE 1000\r\n",
    "refuse-rcpt": b"250-localhost\r\n250 AUTH LOGIN\r\n",
}


def log(line):
    with LOCK, open(LOG, "ab") as f:
        f.write(line)


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        if SCENARIO == "silent":
            self.rfile.readline()
            return
        self.wfile.write(b"220 scripted ESMTP\r\n")
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
                    self.wfile.write(b"250 2.0.0 queued\r\n")
                continue
            command = line.strip().upper()
            if auth_step:
                auth_step -= 1
                self.wfile.write(b"334 UGFzc3dvcmQ6\r\n" if auth_step else b"235 2.7.0 Authentication successful\r\n")
            elif command.startswith(b"EHLO"):
                self.wfile.write(EHLO[SCENARIO])
            elif command.startswith(b"HELO"):
                self.wfile.write(b"250 localhost\r\n")
            elif command == b"AUTH LOGIN":
                auth_step = 2
                self.wfile.write(b"334 VXNlcm5hbWU6\r\n")
            elif command == b"AUTH PLAIN":
                auth_step = 1
                self.wfile.write(b"334 \r\n")
            elif command.startswith(b"MAIL FROM"):
                self.wfile.write(b"250 2.1.0 Ok\r\n")
            elif command.startswith(b"RCPT TO"):
                refuse = SCENARIO == "refuse-rcpt"
                self.wfile.write(b"550 5.1.1 No such user here\r\n" if refuse else b"250 2.1.5 Ok\r\n")
            elif command == b"DATA":
                in_data = True
                self.wfile.write(b"354 End data with <CR><LF>.<CR><LF>\r\n")
            elif command == b"RSET":
                self.wfile.write(b"250 2.0.0 Ok\r\n")
            elif command == b"QUIT":
                self.wfile.write(b"221 2.0.0 Bye\r\n")
                return
            else:
                self.wfile.write(b"500 unknown\r\n")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
