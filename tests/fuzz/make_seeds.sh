#!/usr/bin/env bash
# Writes the fuzzer's seed files into seeds/ beside this script, and hand-made malformed inputs
# into regressions/. Each file is spelled out as hex with a comment per field, so the committed
# binaries can be checked against this text (xxd seeds/NAME.mid).
#
# Every seed is a valid file that converts with exit status 0: the fuzzer mutates from inputs that
# reach deep into the conversion, not from ones that fail at the header. The malformed inputs aim
# at the converter's arithmetic on offsets and lengths; they must end in "ERR", never in a crash.
set -euo pipefail

fuzz_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$fuzz_dir/seeds" "$fuzz_dir/regressions"

# Reads commented hex on standard input ('#' to the end of the line is a comment) and writes the
# bytes to the file named relative to this script's directory.
write_hex() {
    local hex
    hex="$(sed 's/#.*//' | tr -d ' \t\r\n')"
    if ((${#hex} % 2 != 0)) || [[ "$hex" =~ [^0-9A-Fa-f] ]]; then
        echo "make_seeds.sh: bad hex for $1" >&2
        exit 1
    fi
    local i
    for ((i = 0; i < ${#hex}; i += 2)); do
        # shellcheck disable=SC2059  # the format is the escape of one checked hex byte
        printf "\\x${hex:i:2}"
    done >"$fuzz_dir/$1"
}

seed() { write_hex "seeds/$1"; }
malformed() { write_hex "regressions/$1"; }

seed one_track_add_up.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 1B     # MTrk, length 27
00 90 3C 40                  # note on C4
10 FF 01 0B                  # Text, 11 bytes:
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$"
   61 62 63                  #   "abc"
60 80 3C 00                  # note off C4
00 FF 2F 00                  # end of track
HEX

seed two_tracks.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 01  00 02  00 60          # format 1, 2 tracks, 96 ticks per quarter
4D 54 72 6B  00 00 00 1A     # MTrk, length 26
00 FF 03 04  4C 65 61 64     # Track name "Lead"
00 FF 05 0A                  # Lyric, 10 bytes:
   24 41 44 44 5F 48 49 24   #   "$ADD_HI$"
   48 69                     #   "Hi"
00 FF 2F 00                  # end of track
4D 54 72 6B  00 00 00 21     # MTrk, length 33
00 C0 05                     # program change 5
00 FF 01 08                  # Text, 8 bytes:
   24 44 45 4C 5F 4C 4F 24   #   "$DEL_LO$"
00 FF 01 0A                  # Text, 10 bytes:
   24 41 44 44 5F 4C 4F 24   #   "$ADD_LO$"
   4F 6B                     #   "Ok"
00 FF 2F 00                  # end of track
HEX

seed running_status.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 01  00 02  00 60          # format 1, 2 tracks, 96 ticks per quarter
4D 54 72 6B  00 00 00 23     # MTrk, length 35
00 90 3C 40                  # note on C4
10 3E 40                     # note on D4, running status
00 FF 01 08                  # Text, 8 bytes:
   24 44 45 4C 5F 55 50 24   #   "$DEL_UP$"
10 3C 00                     # running status across the meta event
00 F0 03 7E 00 F7            # SysEx, 3 bytes
10 3E 00                     # running status across the SysEx event
00 FF 2F 00                  # end of track
4D 54 72 6B  00 00 00 0A     # MTrk, length 10
00 40 40                     # running status across the track boundary
20 40 00                     # and again
00 FF 2F 00                  # end of track
HEX

seed sysex.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  01 E0          # format 0, 1 track, 480 ticks per quarter
4D 54 72 6B  00 00 00 27     # MTrk, length 39
00 F0 05 7E 7F 09 01 F7      # SysEx, 5 bytes (GM on)
00 F0 03 43 12 00            # SysEx, 3 bytes, continued below
10 F7 02 7F F7               # SysEx continuation (F7), 2 bytes
00 FF 01 0C                  # Text, 12 bytes:
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$"
   F0 F7 80 7F               #   payload bytes with the high bit set
00 FF 2F 00                  # end of track
HEX

seed lyric_delete.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 31     # MTrk, length 49
00 FF 05 02  4C 61           # Lyric "La"
30 FF 05 0C                  # Lyric, 12 bytes:
   24 44 45 4C 5F 55 4C 24   #   "$DEL_UL$"
   78 79 7A 77               #   "xyzw", dropped by a delete
30 FF 05 08                  # Lyric, 8 bytes:
   24 44 45 4C 5F 48 4C 24   #   "$DEL_HL$"
00 FF 05 07                  # Lyric, 7 bytes, too short for a command:
   24 44 45 4C 5F 55 4C      #   "$DEL_UL"
00 FF 2F 00                  # end of track
HEX

seed poly_pressure.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 27     # MTrk, length 39
00 A0 3C 20                  # poly pressure
00 D0 10                     # channel pressure
00 E0 00 40                  # pitch bend
00 B0 07 64                  # control change
00 C0 05                     # program change
00 FF 01 09                  # Text, 9 bytes:
   24 41 44 44 5F 48 50 24   #   "$ADD_HP$", both spellings mixed
   21                        #   "!"
00 80 3C 00                  # note off C4
00 FF 2F 00                  # end of track
HEX

# The payload counts 00, 01, ... C7: 200 bytes, both nibbles of each byte vary, and the SysEx
# length (2*200+7 = 407) needs a two-byte variable-length field.
payload=""
for ((b = 0; b < 200; b++)); do payload+="$(printf '%02X ' "$b")"; done
seed long_payload.mid <<HEX
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 D9     # MTrk, length 217
00 FF 01 81 50               # Text, 208 bytes:
   24 41 44 44 5F 55 50 24   #   "\$ADD_UP\$"
   $payload
00 FF 2F 00                  # end of track
HEX

seed trailing_data.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 10     # MTrk, length 16
00 FF 01 08                  # Text, 8 bytes:
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$", empty payload
00 FF 2F 00                  # end of track
4D 54 72 6B  00 00 00 04     # a chunk past the declared track count, dropped
00 FF 2F 00
HEX

malformed edge-text-past-end-of-file.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 30     # MTrk, length 48, more than the file holds
00 FF 01 20                  # Text, 32 bytes declared, 10 present:
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$"
   61 62                     #   "ab", then the file ends
HEX

malformed edge-text-past-end-of-track.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 01  00 02  00 60          # format 1, 2 tracks, 96 ticks per quarter
4D 54 72 6B  00 00 00 08     # MTrk, length 8, ending inside the text below
00 FF 01 0B                  # Text, 11 bytes:
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$"
   61 62 63                  #   "abc"
00 FF 2F 00                  # end of track
4D 54 72 6B  00 00 00 04     # MTrk, length 4
00 FF 2F 00                  # end of track
HEX

malformed edge-track-length-over-2gib.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 01  00 02  00 60          # format 1, 2 tracks, 96 ticks per quarter
4D 54 72 6B  FF FF FF F0     # MTrk, length 2^32 - 16: the next chunk lies backwards
00 FF 01 08                  # Text, 8 bytes:
   24 44 45 4C 5F 55 4C 24   #   "$DEL_UL$"
00 FF 2F 00                  # end of track
4D 54 72 6B  00 00 00 04     # MTrk, length 4
00 FF 2F 00                  # end of track
HEX

malformed edge-five-byte-length.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 10     # MTrk, length 16
00 FF 01 8F FF FF FF 7F      # Text, length in five bytes, one more than allowed
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$"
HEX

malformed edge-huge-text-length.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  7F FF FF FF     # MTrk, length 2^31 - 1, far more than the file holds
00 FF 01 FF FF FF 7F         # Text, 2^28 - 1 bytes declared: twice that overflows a length
   24 41 44 44 5F 55 50 24   #   "$ADD_UP$"
00 FF 2F 00                  # end of track
HEX

malformed edge-no-tracks.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 00  00 60          # format 0, no track
HEX

malformed edge-too-many-tracks.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 01  FF FF  00 60          # format 1, 65535 tracks declared, one present
4D 54 72 6B  00 00 00 04     # MTrk, length 4
00 FF 2F 00                  # end of track
HEX

malformed edge-note-cut-short.mid <<'HEX'
4D 54 68 64  00 00 00 06     # MThd, header length 6
00 00  00 01  00 60          # format 0, 1 track, 96 ticks per quarter
4D 54 72 6B  00 00 00 04     # MTrk, length 4
00 90 3C                     # note on, velocity missing at the end of the file
HEX

echo "seeds and malformed inputs written under $fuzz_dir"
