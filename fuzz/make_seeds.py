#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora (fuzz/corpus/<target>/) from the byte streams the tests
use: target text and escape sequences, disk requests and data frames, boot sectors."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def checksum(body):
    return (-sum(body)) & 0xFF


def frame(payload):
    body = bytes([0]) + struct.pack('<H', len(payload) + 3) + payload
    return b'\x1bD' + bytes([checksum(body)]) + body[1:]


def request(fn, count, cyl, head, sector, bx=0x7C00):
    regs = struct.pack('<BBHBBBB', count, fn, bx, sector, cyl, 0, head)
    body = bytes([0]) + struct.pack('<H', 11) + regs
    return b'\x1bD' + bytes([checksum(body)]) + body[1:]


def sector(seed):
    return bytes((seed * 31 + i * 7) & 0xFF for i in range(512))


def boot_sector(bps, total, spt, heads, fat):
    b = bytearray(512)
    struct.pack_into('<H', b, 11, bps)
    struct.pack_into('<H', b, 19, total)
    struct.pack_into('<H', b, 24, spt)
    struct.pack_into('<H', b, 26, heads)
    b[54:54 + len(fat)] = fat
    return bytes(b)


def write_seeds(target, seeds):
    folder = os.path.join(HERE, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


ACK = b'\x55'
write_two = request(3, 2, 0, 1, 3) + ACK + frame(sector(1)) + frame(sector(2)) + ACK
read_two = request(2, 2, 0, 1, 3) + ACK + ACK + ACK
bad_data = request(3, 1, 1, 0, 1) + ACK + b'\x1bD\x00' + sector(3)[:515]
off_disk = request(3, 1, 3, 0, 19) + ACK + frame(sector(4)) + ACK
write_seeds('fuzz_disk_exchange', {
    'write-then-read': b'\x07' + write_two + read_two,
    'read-golden': b'\x01' + request(2, 1, 0, 0, 1) + ACK + ACK,
    'bad-data-frame': b'\x21' + bad_data + write_two,
    'off-disk-write': b'\x03' + off_disk + read_two,
    'nak-final-reply': b'\x05' + request(3, 1, 0, 0, 2) + ACK + frame(sector(5)) + b'\xaa',
    'text-and-status': b'\x09Hello\x1bS\x1b[2J' + write_two,
})
# Findings kept as seeds (the files stay as the fuzzer wrote them):
#   fuzz_disk_exchange/zero-count-write-off-disk: a write of 0 sectors at sector 0 is answered
#   00; it moves nothing, so the model must not count it as a write off the disk.
write_seeds('fuzz_main_cycle', {
    'text': b'\x00\x05Hello, target\r\n\x07\x08\x09',
    'clear-and-place': b'\x01\x11\x1b[2J\x1b[10;20HX\x1b[25;80HY',
    'attributes': b'\x00\x23\x1b[1;33;44mbright\x1b[0m\x1b[31;40mred\x1b[m',
    'hold-and-query': b'\x01\x03\x1bS\x1bQ\x1b\x1b\x1bS',
    'unrecognised': b'\x00\x09\x1bx\x1b[99;99;99;99;99;99;99;99;99;99;99;99Z\x1b[?25h',
    'disk-request': b'\x01\x31' + request(2, 1, 0, 0, 1) + b'after',
})
write_seeds('fuzz_image', {
    'fat12-144': b'\x00' * 8 + boot_sector(512, 2880, 18, 2, b'FAT12   ') + sector(1) * 3,
    'fat16-odd': b'\x05\x01\x01\x02\x04\x03\x00\x00\x00\x12\x02\x07' +
                 boot_sector(1024, 99, 7, 5, b'FAT16   ') + sector(2),
    'short': boot_sector(512, 2880, 18, 2, b'FAT12   ')[:300],
    'fat32': b'\x02\x01\x00\x00\x01\x01\x09' + boot_sector(512, 0, 63, 255, b'') +
             sector(3),
})
write_seeds('fuzz_screen', {
    'tabs': b'\x0a\x00\x00\x00\x48\x00\x00\x00\x18' + b'\x02\x09' * 4 + b'\x01x',
    'messages': b'\x04' + b'a' * 90 + b'\x00\x03\x4e' + b'\x00' * 8 + b'hi\x00',
    'windows': b'\x08\x05\x05\x20\x10\x00\x30\x09\x00\x00\x4f\x18\x03\x17',
})
write_seeds('fuzz_keys', {
    'shift-a': b'\x00\x2a\x10\x00\x1e\x41\x01\x1e\x41\x01\x2a\x10',
    'ctrl-alt-del': b'\x00\x1d\x11\x00\x38\x12\x00\x53\x2e',
    'locks-and-hold': b'\x07\x3f\x00\x3a\x14\x02\x1e\x41\x00\x45\x90',
})
