#!/usr/bin/python3
"""A throwaway FTP server: a folder read-only to anonymous users (any spelling), optionally slowly or
without a SIZE answer. Each download that ends adds "NAME COMPLETE BYTES" to --transfer-log."""

import argparse
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--bytes-per-second", type=int, default=0)
    parser.add_argument("--no-size", action="store_true")
    parser.add_argument("--transfer-log", required=True)
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(args.dir)

    class Handler(FTPHandler):
        def ftp_USER(self, line):  # the program logs in as "Anonymous"
            return FTPHandler.ftp_USER(self, "anonymous" if line.lower() == "anonymous" else line)

        def log_transfer(self, cmd, filename, receive, completed, elapsed, bytes):
            FTPHandler.log_transfer(self, cmd, filename, receive, completed, elapsed, bytes)
            if not receive:
                with open(args.transfer_log, "a") as log:
                    log.write("%s %d %d\n" % (os.path.basename(filename), int(completed), bytes))

        if args.no_size:
            def ftp_SIZE(self, path):
                self.respond("550 SIZE not allowed here.")

    Handler.authorizer = authorizer
    Handler.banner = "test server ready"
    if args.bytes_per_second:
        class Slow(ThrottledDTPHandler):
            read_limit = args.bytes_per_second
            write_limit = args.bytes_per_second
        Handler.dtp_handler = Slow

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
