#!/usr/bin/env python3
"""Writes twinkle.mid, the example song: the first two phrases of "Twinkle, Twinkle, Little Star"
on two tracks, with lyric commands in Text and Lyric events for an instrument that shows an upper
and a lower lyric line.

Every byte is written out below, field by field, so that the file can be checked by eye:
    python3 examples/make_twinkle.py examples/twinkle.mid
"""
import sys


def vlq(value):
    """A variable-length number: 7 bits a byte, bit 7 set on all but the last."""
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def meta(delta, kind, data):
    return vlq(delta) + bytes([0xFF, kind]) + vlq(len(data)) + data


def text(delta, words):
    return meta(delta, 0x01, words.encode("utf-8"))


def lyric(delta, words):
    return meta(delta, 0x05, words.encode("utf-8"))


def chunk(tag, data):
    return tag + len(data).to_bytes(4, "big") + data


QUARTER = 96
HEADER = chunk(b"MThd", bytes([
    0x00, 0x01,  # format 1
    0x00, 0x02,  # two tracks
    0x00, QUARTER,  # ticks per quarter note
]))

CONDUCTOR = b"".join([
    meta(0, 0x03, b"Twinkle"),  # track name
    meta(0, 0x51, bytes([0x07, 0xA1, 0x20])),  # tempo: 500,000 us a quarter note
    meta(0, 0x58, bytes([0x04, 0x02, 0x18, 0x08])),  # time signature 4/4
    text(0, "$ADD_UP$Twinkle, twinkle, little star,"),  # upper line, primary spelling
    lyric(0, "$ADD_LO$how I wonder what you are!"),  # lower line
    text(QUARTER * 8, "$DEL_UL$"),  # clear both lines after two bars
    text(0, "$ADD_HI$Up above the world so high, like a diamond in the sky, "
            "twinkle, twinkle, little star"),  # alternative spelling, a long payload
    lyric(0, "$ADD_LO$\u2606 petite \u00e9toile \u2606"),  # bytes above 0x7F
    text(QUARTER * 8, "$DEL_HI$ (end of the upper line)"),  # delete with extra text
    lyric(0, "$DEL_LO$"),
    lyric(0, "la la la"),  # an ordinary lyric: passes unchanged
    meta(0, 0x2F, b""),  # end of track
])

C4, D4, E4, F4, G4, A4 = 60, 62, 64, 65, 67, 69
PHRASES = [
    [C4, C4, G4, G4, A4, A4, G4, None],
    [F4, F4, E4, E4, D4, D4, C4, None],
    [G4, G4, F4, F4, E4, E4, D4, None],
    [G4, G4, F4, F4, E4, E4, D4, None],
]


def melody():
    events = [vlq(0) + bytes([0xC0, 0x00])]  # program change: piano
    rest = 0
    for phrase in PHRASES:
        for pitch in phrase:
            if pitch is None:
                rest += QUARTER
                continue
            # Note off as note on with velocity 0, in running status after the first note.
            events.append(vlq(rest) + bytes([0x90, pitch, 0x50]))
            events.append(vlq(QUARTER - 8) + bytes([pitch, 0x00]))
            rest = 8
    events.append(meta(rest, 0x2F, b""))
    return b"".join(events)


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "twinkle.mid"
    with open(path, "wb") as song:
        song.write(HEADER + chunk(b"MTrk", CONDUCTOR) + chunk(b"MTrk", melody()))


if __name__ == "__main__":
    main()
