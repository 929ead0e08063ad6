"""A UDP relay on 127.0.0.1 in front of a host (a game, or a TURN server),
standing in for the network between machines: every datagram waits a delay
with jitter, a share of them is lost, and chosen bytes can be rewritten on
the way (another game version in the handshake) or dropped. Standard library
only.

Games send to `relay.port`; the relay forwards each sender's datagrams from a
socket of its own to the host's port, and the host's answers on that socket
back to that sender.
"""

import heapq
import random
import select
import socket
import threading
import time

LOCALHOST = "127.0.0.1"
MAX_DATAGRAM = 65535
POLL_S = 0.1


class Relay:
    def __init__(self, host_port, delay_ms=0.0, jitter_ms=0.0, loss=0.0, rewrite=None, seed=1):
        """delay_ms +- jitter_ms (uniform) each way; loss: the share of
        datagrams dropped; rewrite: a function of (datagram, way) that
        returns the datagram to send on (None: lost), way being "to host" or
        "to joiner"."""
        self.host = (LOCALHOST, host_port)
        self.delay_s, self.jitter_s, self.loss = delay_ms / 1000, jitter_ms / 1000, loss
        self.rewrite = rewrite
        self.random = random.Random(seed)
        self.front = self._socket()  # faces the games
        self.port = self.front.getsockname()[1]
        self.back_for = {}   # a sender's address -> its socket facing the host
        self.sender_of = {}  # that socket -> the sender's address
        self.queue = []  # (due, order, socket, datagram, address)
        self.order = 0
        self.lock = threading.Condition()
        self.stopped = False
        self.threads = [threading.Thread(target=f, daemon=True) for f in (self._receive, self._deliver)]
        for thread in self.threads:
            thread.start()

    @staticmethod
    def _socket():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((LOCALHOST, 0))
        return s

    def _receive(self):
        while not self.stopped:
            ready, _, _ = select.select([self.front] + list(self.sender_of), [], [], POLL_S)
            for s in ready:
                try:
                    data, address = s.recvfrom(MAX_DATAGRAM)
                except OSError:
                    continue
                if s is not self.front:
                    self._schedule(data, self.front, self.sender_of[s], "to joiner")
                    continue
                if address not in self.back_for:
                    self.back_for[address] = self._socket()
                    self.sender_of[self.back_for[address]] = address
                self._schedule(data, self.back_for[address], self.host, "to host")

    def _schedule(self, data, out, address, way):
        with self.lock:
            if self.random.random() < self.loss:
                return
            if self.rewrite is not None:
                data = self.rewrite(data, way)
                if data is None:
                    return
            delay = self.delay_s + self.random.uniform(-self.jitter_s, self.jitter_s)
            self.order += 1
            heapq.heappush(self.queue, (time.monotonic() + delay, self.order, out, data, address))
            self.lock.notify()

    def _deliver(self):
        with self.lock:
            while not self.stopped:
                if not self.queue:
                    self.lock.wait(0.1)
                    continue
                due, _, out, data, address = self.queue[0]
                wait = due - time.monotonic()
                if wait > 0:
                    self.lock.wait(wait)
                    continue
                heapq.heappop(self.queue)
                try:
                    out.sendto(data, address)
                except OSError:
                    pass

    def close(self):
        with self.lock:
            self.stopped = True
            self.lock.notify_all()
        for thread in self.threads:
            thread.join(timeout=2)
        for s in [self.front] + list(self.sender_of):
            s.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
