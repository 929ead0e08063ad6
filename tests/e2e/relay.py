"""A UDP relay on 127.0.0.1 between a joining game and its host, standing in
for the network between two machines: every datagram waits a delay with
jitter, a share of them is lost, and chosen bytes can be rewritten on the way
(another game version in the handshake) or dropped. Standard library only.

The joining game sends to `relay.port`; the relay forwards from a socket of
its own to the host's port, and the host's answers back to whoever sent
first.
"""

import heapq
import random
import socket
import threading
import time

LOCALHOST = "127.0.0.1"
MAX_DATAGRAM = 65535


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
        self.front = self._socket()  # faces the joining game
        self.back = self._socket()   # faces the host
        self.port = self.front.getsockname()[1]
        self.joiner = None
        self.queue = []  # (due, order, socket, datagram, address)
        self.order = 0
        self.lock = threading.Condition()
        self.stopped = False
        self.threads = [threading.Thread(target=f, daemon=True)
                        for f in (self._from_joiner, self._from_host, self._deliver)]
        for thread in self.threads:
            thread.start()

    @staticmethod
    def _socket():
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((LOCALHOST, 0))
        s.settimeout(0.1)
        return s

    def _receive(self, s):
        while not self.stopped:
            try:
                return s.recvfrom(MAX_DATAGRAM)
            except socket.timeout:
                continue
            except OSError:
                return None, None
        return None, None

    def _from_joiner(self):
        while True:
            data, address = self._receive(self.front)
            if data is None:
                return
            self.joiner = address
            self._schedule(data, self.back, self.host, "to host")

    def _from_host(self):
        while True:
            data, _ = self._receive(self.back)
            if data is None:
                return
            if self.joiner is not None:
                self._schedule(data, self.front, self.joiner, "to joiner")

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
        self.front.close()
        self.back.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
