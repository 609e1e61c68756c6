#!/usr/bin/python3
"""A stand-in for the update server, written from the update check's protocol only.

Serves the files of the folder named by its argument over plain HTTP/1.1 on 127.0.0.1, on a
free port printed as the first line on stdout ("PORT <n>"):
  GET /<name>          the file, with its length
  GET /cut/<name>      the file's whole length announced, half its bytes sent, the connection closed
  GET /moved/<name>    a 302 redirect to /<name>
  GET /stall/<name>    the file's whole length announced, a hundredth of its bytes sent, then
                       nothing more until the client leaves
A missing file is a 404. Every request's path is printed on stdout as "GET <path>".
Ends when stdin closes.
"""

import http.server
import os
import sys
import threading

root = os.path.realpath(sys.argv[1])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        print("GET " + self.path, flush=True)
        path = self.path
        if path.startswith("/moved/"):
            self.send_response(302)
            self.send_header("Location", path[len("/moved"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        cut = path.startswith("/cut/")
        stall = path.startswith("/stall/")
        if cut or stall:
            path = path[path.index("/", 1):]
        name = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not name.startswith(root + os.sep) or not os.path.isfile(name):
            self.send_error(404)
            return
        with open(name, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if cut:
            self.wfile.write(data[: len(data) // 2])
            self.close_connection = True
        elif stall:
            self.wfile.write(data[: len(data) // 100])
            self.wfile.flush()
            try:
                while self.connection.recv(4096):
                    pass
            except OSError:
                pass
            self.close_connection = True
        else:
            self.wfile.write(data)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print("PORT %d" % server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
server.shutdown()
