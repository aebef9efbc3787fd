#!/usr/bin/env python3
"""A pyftpdlib FTP server for tests on 127.0.0.1 with an ephemeral port.

Usage: ftp_server.py ROOT [FOLDER]  -- prints the port on the first line; then
one line per CWD command ("CWD <path>"); serves until stdin closes (FOLDER: see
channel.py). Users:
quorlex/secret and anonymous, both read-only.
"""
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

from channel import Channel

CHANNEL = Channel(sys.argv)


class Handler(FTPHandler):
    def ftp_CWD(self, path):
        CHANNEL.say("CWD " + path)
        return super().ftp_CWD(path)


def main():
    authorizer = DummyAuthorizer()
    authorizer.add_user("quorlex", "secret", sys.argv[1], perm="elr")
    authorizer.add_anonymous(sys.argv[1], perm="elr")
    Handler.authorizer = authorizer
    Handler.passive_ports = None
    import logging
    logging.basicConfig(level=logging.ERROR)
    server = FTPServer(("127.0.0.1", 0), Handler)
    CHANNEL.say(str(server.address[1]))
    threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.2}, daemon=True).start()
    CHANNEL.wait()
    server.close_all()


if __name__ == "__main__":
    main()
