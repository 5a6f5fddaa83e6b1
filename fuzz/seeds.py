#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed conversations of fuzz/corpus/ (the encoding is described
at the top of conversation.cpp). Run it again after changing the encoding."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

TEXT, MARKER, BLOCK, TOTAL, DELIVER, CHUNKS, CLOSE, LOSE, STALL, RESTART = range(10)
# BLOCK and TOTAL arguments
WRONG, MODEL, LENGTH, SEND = 1, 2, 4, 8
# parameter flags
TICKED, FULL, CLOSE_IN_BOX, KEEP_STOPPED, CONTINUE = 1, 2, 4, 8, 0x80
MEMORY, CANNOT_CREATE, NO_DEVICE, FILLS_UP, REAL_FOLDER = 0, 4, 5, 6, 7
# in the start word, when continuing
RANGE_GIVEN = 0x8000
# what is done to the stopped dump before it is continued (the high nibble of the pick)
COUNT_600, COUNT_ZERO, PAST_FLASH, MORE_WHOLE_BLOCKS, RANGE_NOT_NAME, RECORD_LINK, RECORD_HARD_LINK, \
    OTHER_OWNER, PART_REPLACED, GARBAGE, FIFO, FOLDER = range(1, 13)


def params(flags=0, start=0, count=0, lose_at=0, limit=0, file=MEMORY, pick=None, forge=0):
    if pick is not None or forge:
        limit = (pick or 0) | forge << 4
    return bytes([flags | file << 4]) + struct.pack(">H", start) + bytes([count, lose_at, limit])


def op(kind, arg=0):
    return bytes([kind | arg << 4])


def text(data):
    out = b""
    for i in range(0, len(data), 255):
        part = data[i:i + 255]
        out += op(TEXT) + bytes([len(part)]) + part
    return out


def deliver(n=0):
    return op(DELIVER) + struct.pack(">H", n)


def markers():
    return b"".join(op(MARKER, i) + deliver() for i in range(3))


def block(seed=0, model=None, wrong=0, length=0, send=True):
    arg = (SEND if send else 0) | (WRONG if wrong else 0) | (MODEL if model is not None else 0) \
        | (LENGTH if length else 0)
    out = op(BLOCK, arg) + bytes([seed])
    if wrong:
        out += bytes([wrong - 1])
    if model is not None:
        name, terminated = model
        out += bytes([len(name) | (0 if terminated else 0x80)]) + name
    if length:
        out += struct.pack("b", length)
    return out


def total(wrong=False, send=True):
    return op(TOTAL, (SEND if send else 0) | (WRONG if wrong else 0))


def raw_block(data):
    return text(data + bytes([sum(data) % 256]))


def kept(change_at=None, wrong=False, send=True):
    """The reply to the block last asked for, as the stopped dump being continued holds it."""
    arg = 1 | (2 if change_at is not None else 0) | (4 if wrong else 0) | (SEND if send else 0)
    return op(TEXT, arg) + (bytes([change_at // 4]) if change_at is not None else b"")


def samples(whole_blocks):
    """How many kept blocks a continuing run compares before block k-2."""
    return min(whole_blocks - 2, 15)


def stopped_run(whole_blocks, count, flags=0, first=b"", file=REAL_FOLDER):
    """A run that stops at a bad block, leaving a .part of whole_blocks blocks."""
    return params(flags=flags, count=count, file=file) + markers() + first \
        + b"".join(block(i) for i in range(whole_blocks - 1 - (1 if first else 0))) + block(99, wrong=1)


def continuing(whole_blocks, count, flags=0, start=0, forge=0):
    """A run that continues the stopped dump: every compared block comes back as it was."""
    return op(RESTART) + params(flags=CONTINUE | flags, start=start, count=count, file=REAL_FOLDER, forge=forge) \
        + markers() + kept() * (samples(whole_blocks) + 1)


def forged(forge, count, flags=0, first=None):
    """A run asked to continue a stopped dump whose record is forged: the plan refuses it, and
    the run, keeping stopped dumps, leaves the .part alone when its first block comes."""
    return op(RESTART) + params(flags=CONTINUE | KEEP_STOPPED | flags, count=count, file=REAL_FOLDER, forge=forge) \
        + markers() + (first or block(50))


SEEDS = {
    # Whole conversations that end well.
    "good-partial": params(start=5, count=3) + markers()
        + b"".join(block(i) for i in range(3)) + total(),
    "good-full-header": params(flags=TICKED | FULL) + markers()
        + block(1, model=(b"KSF-2100", True)) + b"".join(block(i % 7) for i in range(1023)) + total(),
    "good-full-chunked": params(flags=FULL) + markers()
        + b"".join(block(i % 5, send=False) + op(CHUNKS) + bytes([i % 256]) for i in range(1024))
        + total(),
    "count-zero": params(start=100, count=0) + markers() + total(),
    "second-run": params(count=2) + markers() + block(3) + block(4) + total()
        + op(RESTART) + params(flags=TICKED, start=7, count=1) + markers() + block(5) + total(),
    # Markers cut up, wrapped in noise, followed by text in the same read.
    # catalogue: "split markers"
    "split-markers": params(count=1) + text(b"garbage P") + deliver() + text(b"C__") + deliver(2)
        + deliver() + text(b"_ trailing\r\n00") + deliver() + text(b"00 more") + deliver()
        + text(b"19") + deliver() + text(b"8") + deliver() + text(b"4") + deliver() + block(2) + total(),
    "marker-with-nul": params(count=1) + text(b"PC_\0__ PC___") + deliver() + op(MARKER, 1) + deliver()
        + text(b"19\x8484") + deliver() + op(MARKER, 2) + deliver() + block(1) + total(),
    # Faults of the loader. Where a seed plays a fault of the tests' catalogue
    # (tests/support/faults.cpp), the comment above it names the entry or the
    # LoaderFault that makes it.
    # catalogue: "wrong check byte" (LoaderFault::badCheck)
    "bad-check-middle": params(start=10, count=4) + markers() + block(1) + block(2, wrong=3) + block(3),
    # catalogue: LoaderFault::badCheck(0)
    "bad-check-first": params(flags=FULL) + markers() + block(1, wrong=1),
    # catalogue: "wrong total"
    "bad-total": params(count=2) + markers() + block(1) + block(2) + total(wrong=True),
    # catalogue: "extra bytes" (LoaderFault::extraAfter a block)
    "reply-one-long": params(count=2) + markers() + block(1, length=1),
    # catalogue: LoaderFault::stall in a block, one byte short
    "reply-one-short-then-stall": params(count=2) + markers() + block(1, length=-1) + op(STALL),
    # catalogue: LoaderFault::extraAfter a block, the next reply
    "two-replies-at-once": params(count=3) + markers() + block(1, send=False) + block(2, send=False) + deliver(),
    # catalogue: LoaderFault::extraAfter the total
    "extra-after-total": params(count=1) + markers() + block(1) + total(send=False) + text(b"\r\n") + deliver(),
    # catalogue: "stall in the total"
    "stall-in-total": params(count=1) + markers() + block(1) + op(STALL) + total(),
    # catalogue: "silent in the handshake"
    "stall-in-handshake": params(count=1) + op(MARKER, 0) + deliver() + op(STALL) + op(MARKER, 1) + deliver()
        + op(MARKER, 2) + deliver() + block(1) + total(),
    # Blocks of erased flash or zeros only bring a warning after the closing line; one other
    # good block, or blank blocks with a wrong check byte, do not.
    "blank-blocks": params(count=2) + markers() + raw_block(bytes(1024)) + deliver()
        + raw_block(b"\xff" * 1024) + deliver() + text(bytes([0xff * 1024 % 256])) + deliver()
        + op(RESTART) + params(count=2) + markers() + raw_block(bytes(1024)) + deliver() + block(1) + total()
        + op(RESTART) + params(count=2) + markers() + text(bytes(1024) + b"\x01") + deliver(),
    # The user and the adapter.
    "close-in-handshake": params(count=2) + op(MARKER, 0) + deliver() + op(CLOSE) + markers() + block(1),
    "close-in-block": params(count=2) + markers() + block(1) + block(2, send=False) + deliver(500)
        + op(CLOSE) + deliver(),
    # catalogue: "wrong check byte", then Close
    "close-when-stopped": params(count=3) + markers() + block(1, wrong=9) + op(CLOSE) + block(2),
    # catalogue: "adapter pulled" (LoaderFault::hangUp in a block)
    "lost-in-block": params(count=3) + markers() + block(1) + block(2, send=False) + deliver(1000)
        + op(LOSE) + deliver(),
    # catalogue: "adapter pulled in the handshake"
    "lost-in-handshake": params(count=1) + op(MARKER, 0) + deliver() + op(LOSE),
    "lost-at-send": params(count=2, lose_at=9) + markers() + block(1) + block(2) + total(),
    # Sends 1-5 are the handshake, 6-8 answer the markers, then two per block.
    "lost-at-down-success": params(count=2, lose_at=14) + markers() + block(1) + block(2) + total(),
    "lost-at-upgrade-success": params(count=2, lose_at=14) + markers() + block(1) + block(2)
        + total(wrong=True),
    # catalogue: "wrong check byte", then LoaderFault::hangUp
    "lost-when-stopped": params(count=2) + markers() + block(1, wrong=2) + op(LOSE),
    # The file.
    "file-cannot-create": params(count=2, file=CANNOT_CREATE) + markers() + block(1),
    "file-no-device": params(count=2, file=NO_DEVICE) + markers() + block(1),
    "file-fills-up": params(count=4, file=FILLS_UP, limit=20) + markers()
        + b"".join(block(i) for i in range(4)) + total(),
    "file-fills-at-header": params(flags=TICKED | FULL | CLOSE_IN_BOX, file=FILLS_UP, limit=0) + markers()
        + block(1, model=(b"M", True)),
    "real-folder-hostile-model": params(flags=FULL, file=REAL_FOLDER) + markers()
        + block(1, model=(b"../../x/..", True)) + b"".join(block(2) for i in range(5)) + op(CLOSE),
    "real-folder-dotdot": params(flags=FULL | TICKED, file=REAL_FOLDER) + markers()
        + block(1, model=(b"..", True)) + op(CLOSE),
    "real-folder-control-bytes": params(flags=FULL, file=REAL_FOLDER) + markers()
        + block(1, model=(b"a\x01b\x7fc\x85d\xffe\tf", True)) + op(CLOSE),
    "real-folder-long-name": params(flags=FULL, file=REAL_FOLDER) + markers()
        + raw_block(bytes(8) + b"\xe9" * 300 + bytes(1024 - 308)) + op(CLOSE),
    "real-folder-no-terminator": params(flags=FULL | TICKED, file=REAL_FOLDER) + markers()
        + raw_block(bytes(8) + b"N" * 1016) + op(CLOSE),
    # A shorter dump over a longer one of the same name keeps nothing of the old.
    "real-folder-stale-tail": params(count=6, file=REAL_FOLDER) + markers()
        + b"".join(block(i) for i in range(6)) + total()
        + op(RESTART) + params(start=1, count=3, file=REAL_FOLDER) + markers() + block(7) + block(8, wrong=1),
    # A good dump over a different one of its name keeps the earlier under a dated name; a
    # third, different again, keeps the second beside it; one with the same bytes replaces it.
    "real-folder-earlier-dump-kept": params(count=2, file=REAL_FOLDER) + markers()
        + block(1) + block(2) + total()
        + op(RESTART) + params(count=2, file=REAL_FOLDER) + markers() + block(3) + block(4) + total()
        + op(RESTART) + params(count=2, file=REAL_FOLDER) + markers() + block(5) + block(6) + total(),
    "real-folder-same-dump-replaced": params(count=1, file=REAL_FOLDER) + markers()
        + raw_block(bytes(range(256)) * 4) + text(bytes([sum(range(256)) * 4 % 256])) + deliver()
        + op(RESTART) + params(count=1, file=REAL_FOLDER) + markers()
        + raw_block(bytes(range(256)) * 4) + text(bytes([sum(range(256)) * 4 % 256])) + deliver(),
    # A stopped dump's record follows it: cut afresh by a plain run, left alone by one that
    # keeps stopped dumps, gone once the dump is good.
    "real-folder-stopped-records": params(count=4, file=REAL_FOLDER) + markers()
        + block(1) + block(2) + block(3, wrong=1)
        + op(RESTART) + params(flags=KEEP_STOPPED, count=4, file=REAL_FOLDER) + markers() + block(4)
        + op(RESTART) + params(count=4, file=REAL_FOLDER) + markers() + block(5) + op(STALL)
        + op(RESTART) + params(flags=KEEP_STOPPED, count=4, file=REAL_FOLDER) + markers()
        + b"".join(block(i) for i in range(4)) + total(wrong=True)
        + op(RESTART) + params(count=4, file=REAL_FOLDER) + markers()
        + b"".join(block(i) for i in range(4)) + total(),
    # A stopped dump continued: 15 kept blocks spread over the first 29 and block 29 come back
    # as the .part holds them, then blocks 30 to 39 replace its tail.
    "real-folder-continue-good": stopped_run(31, 40)
        + continuing(31, 40) + b"".join(block(i) for i in range(10)) + total(),
    # Fewer kept blocks than there are samples: each of them is compared.
    "real-folder-continue-short": stopped_run(5, 6)
        + continuing(5, 6) + block(1) + block(2) + total(),
    # A kept block that comes back changed is another box (or a changed flash): the .part and
    # its record stay as they were, and a later run continues them. Then block k-2 changed.
    "real-folder-continue-not-same-box": stopped_run(9, 12)
        + op(RESTART) + params(flags=CONTINUE, count=12, file=REAL_FOLDER) + markers() + kept() + kept(change_at=1020)
        + op(RESTART) + params(flags=CONTINUE, count=12, file=REAL_FOLDER) + markers()
        + kept() * samples(9) + kept(change_at=8)
        + continuing(9, 12) + b"".join(block(i) for i in range(4)) + total(),
    # A full read with the header stops, is continued and stops again (the record says how
    # far the second run got), then is continued to the end with its range given.
    "real-folder-continue-header-stopped-again": stopped_run(20, 0, flags=FULL | TICKED,
                                                             first=block(1, model=(b"KSF-2100", True)))
        + continuing(20, 0, flags=FULL) + b"".join(block(i) for i in range(5)) + op(STALL)
        + continuing(24, 0, flags=FULL, start=RANGE_GIVEN) + b"".join(block(i % 200) for i in range(1024 - 23))
        + total(),
    # Continued until the compared block with a wrong check byte: the .part keeps the blocks
    # before it. Then the adapter is lost in the middle of the next continuing run.
    "real-folder-continue-check-error": stopped_run(6, 8)
        + op(RESTART) + params(flags=CONTINUE, count=8, file=REAL_FOLDER) + markers()
        + kept() * samples(6) + kept(wrong=True)
        + continuing(5, 8) + block(1) + op(LOSE),
    # What is not continued: a dump whose total check failed starts afresh with the range
    # given; a range given that is not the stopped run's is refused as well; a .part of one
    # whole block starts afresh over the stopped run's range; of two stopped dumps the pick
    # chooses.
    "real-folder-continue-refused": params(count=3, file=REAL_FOLDER) + markers()
        + b"".join(block(i) for i in range(3)) + total(wrong=True)
        + op(RESTART) + params(flags=CONTINUE, start=2, count=2, file=REAL_FOLDER) + markers() + block(4) + block(5)
        + op(STALL)
        + op(RESTART) + params(flags=CONTINUE, start=RANGE_GIVEN | 3, count=2, file=REAL_FOLDER) + markers()
        + block(6, wrong=1)
        + op(RESTART) + params(flags=CONTINUE, start=7, count=9, file=REAL_FOLDER) + markers() + block(7)
        + block(8) + op(CLOSE)
        + op(RESTART) + params(flags=FULL, file=REAL_FOLDER) + markers() + block(1, model=(b"B", True))
        + block(2) + block(3) + op(CLOSE)
        + op(RESTART) + params(flags=CONTINUE, pick=0, file=REAL_FOLDER) + markers() + kept() + kept()
        + b"".join(block(i % 200) for i in range(1022)) + total(),
    # Forged records of a stopped partial read: a count of 0 or past the flash, more whole
    # blocks than the .part holds, a KUP header its name does not have, a link to a copy
    # outside the folder, a second name outside it, another user's, no record at all, a FIFO
    # and a folder in its place. Each is refused with the .part and the record as they were;
    # then the dump is continued to the end.
    "real-folder-forged-records": stopped_run(9, 12)
        + b"".join(forged(f, 12) for f in (COUNT_ZERO, PAST_FLASH, MORE_WHOLE_BLOCKS, RANGE_NOT_NAME,
                                           RECORD_LINK, RECORD_HARD_LINK, OTHER_OWNER, GARBAGE, FIFO, FOLDER))
        + continuing(9, 12) + b"".join(block(i) for i in range(4)) + total(),
    # A stopped full read: a count of 600 or 1023 is not what its name holds. A partial read's
    # name holds any range: its run goes on to the 600th block.
    "real-folder-forged-counts": stopped_run(12, 0, flags=FULL, first=block(1, model=(b"KSF-2100", True)))
        + forged(COUNT_600, 0, flags=FULL, first=block(1, model=(b"KSF-2100", True)))
        + forged(RANGE_NOT_NAME, 0, flags=FULL, first=block(1, model=(b"KSF-2100", True)))
        + continuing(12, 0, flags=FULL) + b"".join(block(i % 200) for i in range(1024 - 11)) + op(CLOSE)
        + op(RESTART) + params(count=6, file=REAL_FOLDER) + markers()
        + b"".join(block(i) for i in range(4)) + block(9, wrong=1)
        + continuing(5, 0, forge=COUNT_600) + b"".join(block(i % 200) for i in range(600 - 4)) + total(),
    # The .part is replaced by a copy of itself after the plan read it: the run stops before
    # it cuts anything. The copy is then continued.
    "real-folder-part-replaced": stopped_run(9, 12)
        + continuing(9, 12, forge=PART_REPLACED)
        + continuing(9, 12) + b"".join(block(i) for i in range(4)) + total(),
}


def main():
    folder = os.path.join(HERE, "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {folder}")


if __name__ == "__main__":
    main()
