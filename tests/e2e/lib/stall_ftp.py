"""A faulty FTP server for the end-to-end tests: it logs anyone in, answers
PORT and STOR, connects back to the client for the data (active mode), and
then neither reads the data connection nor answers again. Every wait of a
client that trusts it never ends. With --refuse it reads the whole file
instead and then refuses to keep it (552), as a full disk would.

  stall_ftp.py ADDRESS [PORT] [--refuse]     (run on the device side of the lab)

Each connection is served by a thread of its own, so the lab's check that
the port answers (a connection that closes at once) does no harm.
"""
import socket
import sys
import threading
import time

STALLED = []  # data connections kept open and never read
REFUSE = "--refuse" in sys.argv


def serve(control):
    try:
        converse(control)
    except OSError:
        pass  # a client that went away (the lab's check that the port answers)
    control.close()


def converse(control):
    reader = control.makefile("rb")

    def reply(text):
        control.sendall((text + "\r\n").encode("ascii"))

    reply("220 Stalling server ready")
    data_address = None
    for raw in reader:
        line = raw.decode("latin-1").strip()
        verb, _, argument = line.partition(" ")
        verb = verb.upper()
        if verb == "USER":
            reply("331 Password required")
        elif verb == "PASS":
            reply("230 Logged in")
        elif verb == "PWD":
            reply('257 "/" is the current directory')
        elif verb == "PORT":
            parts = [int(p) for p in argument.split(",")]
            data_address = (".".join(str(p) for p in parts[:4]), parts[4] * 256 + parts[5])
            reply("200 PORT command successful")
        elif verb in ("EPRT", "EPSV", "PASV", "SIZE", "MDTM"):
            reply("502 Command not implemented")
        elif verb == "STOR" and data_address is not None:
            reply("150 Opening data connection")
            data = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            # A small window: the client's buffers fill soon, then nothing moves.
            data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            data.connect(data_address)
            if REFUSE:
                while data.recv(65536):
                    pass
                data.close()
                reply("552 Exceeded storage allocation")
                continue
            STALLED.append(data)
            while True:  # never read, never answer
                time.sleep(3600)
        elif verb == "QUIT":
            reply("221 Goodbye")
            break
        else:
            reply("200 OK")


def main():
    arguments = [a for a in sys.argv[1:] if a != "--refuse"]
    address = arguments[0]
    port = int(arguments[1]) if len(arguments) > 1 else 21
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(8)
    while True:
        control, _ = listener.accept()
        threading.Thread(target=serve, args=(control,), daemon=True).start()


if __name__ == "__main__":
    main()
