"""One V640 exchange over TCP from Python, as a yardstick for vorsel's one-shot run.

    python3 python_client.py ADDRESS MESSAGE

Sends the message and its CR to ADDRESS (an IPv4 address; nothing is looked up) on port 7090,
reads until a CR has arrived and prints the response up to the CR.
"""
import socket
import sys


def main():
    address, message = sys.argv[1], sys.argv[2]
    with socket.create_connection((address, 7090)) as link:
        link.sendall(message.encode("latin-1") + b"\r")
        response = b""
        while b"\r" not in response:
            chunk = link.recv(4096)
            if not chunk:
                sys.exit(4)
            response += chunk
    print(response.split(b"\r", 1)[0].decode("latin-1"), flush=True)


main()
