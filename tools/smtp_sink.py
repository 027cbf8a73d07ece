#!/usr/bin/python3
"""The demo service's SMTP sink: accepts AUTH LOGIN and PLAIN for one account and prints every mail received.

Usage: smtp_sink.py [--port 2525] [--user 10001] [--password demo2026] [--maildir DIR]
With --port 0 it picks a free port and prints it alone on the first line. With --maildir each mail is also
written there as NNN.eml. Listens on 127.0.0.1 only. Runs with Debian's python3 (python3-aiosmtpd).
"""
import argparse
import email
import email.header
import socket
import sys
import threading
from pathlib import Path

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Sink:
    def __init__(self, maildir):
        self.maildir = Path(maildir) if maildir else None
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            number = self.count
        raw = envelope.original_content or envelope.content
        if self.maildir:
            self.maildir.mkdir(parents=True, exist_ok=True)
            (self.maildir / f"{number:03d}.eml").write_bytes(raw)
        message = email.message_from_bytes(raw)
        subject = str(email.header.make_header(email.header.decode_header(message.get("Subject", ""))))
        body = message.get_payload(decode=True) or b""
        charset = message.get_content_charset() or "us-ascii"
        print(f"--- mail {number} from {envelope.mail_from} to {', '.join(envelope.rcpt_tos)}\n"
              f"Subject: {subject}\n{body.decode(charset, errors='replace')}\n", flush=True)
        return "250 OK"


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user \
            and auth_data.password.decode() == password
        return AuthResult(success=ok, handled=False)
    return check


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=2525)
    parser.add_argument("--user", default="10001")
    parser.add_argument("--password", default="demo2026")
    parser.add_argument("--maildir")
    parser.add_argument("--only", choices=["LOGIN", "PLAIN"], help="offer just this AUTH mechanism")
    args = parser.parse_args()
    port = args.port or free_port()
    controller = Controller(Sink(args.maildir), hostname="127.0.0.1", port=port,
                            authenticator=authenticator(args.user, args.password),
                            auth_require_tls=False, auth_required=True,
                            auth_exclude_mechanism=[m for m in ("LOGIN", "PLAIN") if args.only and m != args.only])
    controller.start()
    if args.port == 0:
        print(port, flush=True)
    print(f"smtp sink on 127.0.0.1:{port} (AUTH LOGIN/PLAIN as {args.user})", file=sys.stderr, flush=True)
    threading.Event().wait()


if __name__ == "__main__":
    main()
