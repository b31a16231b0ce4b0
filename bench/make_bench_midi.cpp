// make_bench_midi: writes a large, deterministic Standard MIDI File for timing the converter.
//
//   make_bench_midi plain|commands|runaway [MiB] output.mid
//
// "plain" holds dense channel messages, a few SysEx events and a few Text/Lyric events that are
// no lyric commands, so the converter must copy it unchanged. "commands" is built the same way,
// except that about a fifth of the events are lyric commands in Text or Lyric events. "runaway"
// (16 MiB unless told otherwise) is hostile: in each of its 1,023 tracks a message never completes
// before the track ends, so a scan that looks past a track's end for the rest of such a message
// would reread every later track, and take quadratic time. The file has exactly the requested
// size; the same arguments always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kTrackCount = 4;
constexpr std::uint32_t kHeaderChunkSize = 14;
constexpr std::uint32_t kChunkHeaderSize = 8;
constexpr std::size_t kEndOfTrackSize = 4;  // 00 FF 2F 00
// No single generated event is longer than this; the main loop stops this far from the end so
// that an event never overruns its track, and fillers take up the rest exactly.
constexpr std::size_t kMaxEventSize = 64;
constexpr std::size_t kFillerMaxSize = 4 + 127;  // delta, FF 01, one-byte length, 127 bytes

// xorshift64*: fast and fixed, so every run writes the same file.
class Random {
   public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    // Uniform enough in [0, n) for n <= 4096. Each draw takes 16 bits of a 64-bit output, so one
    // step of the generator serves four draws.
    std::uint32_t below(std::uint32_t n) { return (bits16() * n) >> 16; }
    std::uint32_t bits16() {
        if (left_ == 0) {
            state_ ^= state_ >> 12;
            state_ ^= state_ << 25;
            state_ ^= state_ >> 27;
            pool_ = state_ * 0x2545F4914F6CDD1DULL;
            left_ = 4;
        }
        const auto bits = static_cast<std::uint32_t>(pool_ & 0xFFFF);
        pool_ >>= 16;
        --left_;
        return bits;
    }

   private:
    std::uint64_t state_;
    std::uint64_t pool_ = 0;
    int left_ = 0;
};

// Both spellings of each command; index 1 and 4 spell the same either way.
constexpr const char* kCommands[5][2] = {
    {"$ADD_UP$", "$ADD_HI$"}, {"$ADD_LO$", "$ADD_LO$"}, {"$DEL_UL$", "$DEL_HL$"},
    {"$DEL_UP$", "$DEL_HI$"}, {"$DEL_LO$", "$DEL_LO$"},
};

// Texts that look close to commands but are none: a converter must leave them alone.
constexpr const char* kPlainTexts[] = {
    "Verse 1",  "la la la", "$ADD_UP",  "ADD_UP$ x", "$add_up$ lower case",
    "$DEL_XX$", "Chorus",   "$$$$$$$$", "hello",     "$ADD_U$$",
    "$DEL_LO",  "Bridge",
};

// Streams the file through a small buffer: the whole file never sits in memory, which keeps
// the generator quick (no page faults for 64 MiB) and its own footprint small.
class Output {
   public:
    explicit Output(std::FILE* file) : file_(file), buffer_(kBufferSize), next_(buffer_.data()) {}

    // Room for at least `count` more bytes through put() without a check per byte.
    void reserve(std::size_t count) {
        if (static_cast<std::size_t>(buffer_.data() + kBufferSize - next_) < count) {
            flush();
        }
    }
    void put(std::uint32_t b) { *next_++ = static_cast<std::uint8_t>(b); }
    std::uint8_t* cursor() { return next_; }
    void moveTo(std::uint8_t* next) { next_ = next; }
    void putU32(std::uint32_t value) {
        reserve(4);
        put(value >> 24);
        put(value >> 16);
        put(value >> 8);
        put(value);
    }
    void write(const std::uint8_t* bytes, std::size_t count) {
        reserve(count);
        std::memcpy(next_, bytes, count);
        next_ += count;
    }
    std::uint64_t position() const { return flushed_ + (next_ - buffer_.data()); }
    bool flush() {
        const std::size_t count = static_cast<std::size_t>(next_ - buffer_.data());
        ok_ = ok_ && std::fwrite(buffer_.data(), 1, count, file_) == count;
        flushed_ += count;
        next_ = buffer_.data();
        return ok_;
    }

   private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    std::FILE* file_;
    std::vector<std::uint8_t> buffer_;
    std::uint8_t* next_;
    std::uint64_t flushed_ = 0;
    bool ok_ = true;
};

class TrackWriter {
   public:
    TrackWriter(Output& out, Random& random, bool commands)
        : out_(out), random_(random), commands_(commands) {}

    // Callers reserve() room first: one event at a time, never more than kMaxEventSize.
    void byte(std::uint32_t b) { out_.put(b); }

    void variableLength(std::uint32_t value) {
        std::uint8_t buffer[4];
        int count = 0;
        do {
            buffer[count++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (count > 1) {
            byte(buffer[--count] | 0x80);
        }
        byte(buffer[0]);
    }

    // Mostly simultaneous events, some short steps, now and then a two-byte delta.
    void delta() {
        const std::uint32_t r = random_.bits16();
        if ((r & 15) == 15) {
            variableLength(128 + (r >> 4));
        } else {
            // Nine in sixteen are 0, the rest a step of 1 to 127 ticks.
            byte((r & 15) < 9 ? 0 : 1 + ((r >> 4) % 127));
        }
    }

    void meta(std::uint32_t type, const void* data, std::size_t length) {
        byte(0xFF);
        byte(type);
        variableLength(static_cast<std::uint32_t>(length));
        out_.write(static_cast<const std::uint8_t*>(data), length);
        status_ = 0;  // running status is resumed only after channel messages
    }

    void text(std::uint32_t type, const char* s) { meta(type, s, std::strlen(s)); }

    // Picked by five random bits; 0 means "the previous kind again", so under running status.
    // Branch-free on purpose: with kinds drawn at random every branch would be a mispredict, and
    // those dominated the generator's time.
    static constexpr std::uint8_t kKinds[32] = {
        0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90,  // note on
        0x80, 0x80, 0x80, 0x80, 0x80, 0x80,                          // note off
        0xB0, 0xB0, 0xB0, 0xB0, 0xB0,                                // control change
        0xE0, 0xE0, 0xE0,                                            // pitch bend
        0xC0, 0xC0,                                                  // program change
        0xD0, 0xD0,                                                  // channel pressure
        0xA0, 0xA0,                                                  // poly pressure
        0,    0,                                                     // same kind again
    };

    void channelMessage() {
        const std::uint32_t r = random_.bits16();
        const std::uint32_t data = random_.bits16();
        const std::uint32_t kind = kKinds[r & 31];
        const std::uint32_t fresh = kind | ((r >> 5) & 15);
        const std::uint32_t status = kind != 0 ? fresh : (status_ != 0 ? status_ : 0x90);
        // Half the messages that may leave out their status byte do.
        const bool write_status = status != status_ || (r & 0x200) != 0;
        const bool one_data_byte = (status & 0xE0) == 0xC0;
        const bool note_on = (status & 0xF0) == 0x90;
        // Controllers 120 to 127 are channel mode messages; keep to ordinary controllers.
        const std::uint32_t first = (status & 0xF0) == 0xB0 ? (data & 127) % 120 : data & 127;
        // One note on in eight has velocity 0, a note off in disguise.
        const std::uint32_t second = note_on && (r & 0x1C00) == 0 ? 0 : (data >> 7) & 127;
        std::uint8_t* p = out_.cursor();
        p[0] = static_cast<std::uint8_t>(status);
        p += write_status ? 1 : 0;
        p[0] = static_cast<std::uint8_t>(first);
        p[1] = static_cast<std::uint8_t>(second);
        p += one_data_byte ? 1 : 2;
        out_.moveTo(p);
        status_ = status;
    }

    void sysEx() {
        const std::uint32_t length = 2 + random_.below(12);
        byte(0xF0);
        variableLength(length);
        for (std::uint32_t i = 0; i + 1 < length; ++i) {
            byte(random_.below(128));
        }
        byte(0xF7);
        status_ = 0;
    }

    void plainText() {
        constexpr std::uint32_t count = sizeof kPlainTexts / sizeof kPlainTexts[0];
        text(random_.below(2) == 0 ? 0x01 : 0x05, kPlainTexts[random_.below(count)]);
    }

    void command() {
        const std::uint32_t index = random_.below(5);
        char buffer[8 + 20];
        // Whole spellings mostly, a mix of both per byte now and then.
        const std::uint32_t spelling = random_.below(3);
        for (int i = 0; i < 8; ++i) {
            const std::uint32_t pick = spelling < 2 ? spelling : random_.below(2);
            buffer[i] = kCommands[index][pick][i];
        }
        // Delete commands usually carry nothing, sometimes a stray tail that is dropped.
        const bool add = index < 2;
        const std::uint32_t payload =
            add ? random_.below(21) : (random_.below(4) == 0 ? random_.below(6) : 0);
        for (std::uint32_t i = 0; i < payload; ++i) {
            buffer[8 + i] = static_cast<char>(0x20 + random_.below(0x5F));
        }
        meta(random_.below(2) == 0 ? 0x01 : 0x05, buffer, 8 + payload);
    }

    void event() {
        out_.reserve(kMaxEventSize);
        delta();
        const std::uint32_t r = random_.below(1000);
        if (commands_ && r < 200) {
            command();
        } else if (r >= 990) {
            plainText();
        } else if (r >= 985) {
            sysEx();
        } else {
            channelMessage();
        }
    }

    // A Text event of exactly `size` bytes, delta time included (4 <= size <= kFillerMaxSize).
    void filler(std::size_t size) {
        static const char kFill[] =
            "filler text of a benchmark file, nothing to convert here; "
            "it only pads the track to the size asked for, byte for byte. "
            "It is never a lyric command and never changes.";
        static_assert(sizeof kFill > kFillerMaxSize - 4, "filler text too short");
        out_.reserve(kFillerMaxSize);
        byte(0);
        meta(0x01, kFill, size - 4);
    }

   private:
    Output& out_;
    Random& random_;
    bool commands_;
    std::uint32_t status_ = 0;
};

void writeTrack(Output& out, std::uint32_t body_size, int number, Random& random, bool commands) {
    const std::uint8_t tag[] = {'M', 'T', 'r', 'k'};
    out.write(tag, sizeof tag);
    out.putU32(body_size);  // known in advance: the fillers below make the body exactly this long
    const std::uint64_t end = out.position() + body_size - kEndOfTrackSize;

    TrackWriter track(out, random, commands);
    const std::string name = "Track " + std::to_string(number);
    out.reserve(kMaxEventSize);
    track.byte(0);
    track.text(0x03, name.c_str());
    if (number == 0) {
        const std::uint8_t tempo[] = {0x07, 0xA1, 0x20};  // 500000 us per quarter note
        const std::uint8_t time_signature[] = {4, 2, 24, 8};
        track.byte(0);
        track.meta(0x51, tempo, sizeof tempo);
        track.byte(0);
        track.meta(0x58, time_signature, sizeof time_signature);
    }
    while (out.position() + kMaxEventSize + kFillerMaxSize < end) {
        track.event();
    }
    while (end - out.position() > kFillerMaxSize) {
        track.filler(kFillerMaxSize - 4);  // never leaves less than a minimal filler behind
    }
    track.filler(static_cast<std::size_t>(end - out.position()));
    const std::uint8_t end_of_track[kEndOfTrackSize] = {0x00, 0xFF, 0x2F, 0x00};
    out.write(end_of_track, sizeof end_of_track);
}

// As many tracks as the header's track count may hold here: the more tracks a runaway message
// may spill into, the more a quadratic scan rereads.
constexpr std::uint32_t kRunawayTracks = 1023;
constexpr std::uint32_t kRunawayShortTrackSize = kChunkHeaderSize + 3;

// Tracks of `00 F1 F0`: a delta time, then a status byte that no message has, taken for one with
// data bytes, which the track ends before. The last track stretches to the end of the file, and
// the only F7, which could end what F0 begins, is among its last bytes: a scan that goes on past
// a track's end has nearly the whole file to read for each track.
void writeRunaway(Output& out, std::uint64_t total) {
    static_assert(kRunawayTracks == 0x03FF, "track count in the header below");
    const std::uint8_t header[kHeaderChunkSize] = {
        'M',  'T',  'h', 'd', 0, 0, 0, 6,  // tag, length 6
        0,    1,                           // format 1
        0x03, 0xFF,                        // track count
        0,    0x60,                        // 96 ticks per quarter note
    };
    out.write(header, sizeof header);
    const std::uint8_t track[kRunawayShortTrackSize] = {'M', 'T', 'r', 'k',  0,   0,
                                                        0,   3,   0,   0xF1, 0xF0};
    for (std::uint32_t i = 0; i + 1 < kRunawayTracks; ++i) {
        out.write(track, sizeof track);
    }
    const std::uint64_t last_body =
        total - kHeaderChunkSize - (kRunawayTracks - 1) * kRunawayShortTrackSize - kChunkHeaderSize;
    out.write(track, 4);
    out.putU32(static_cast<std::uint32_t>(last_body));
    out.write(track + kChunkHeaderSize, 3);
    static const std::uint8_t kZeros[1 << 16] = {};
    std::uint64_t zeros = last_body - 6;
    while (zeros > 0) {
        const std::size_t count =
            zeros < sizeof kZeros ? static_cast<std::size_t>(zeros) : sizeof kZeros;
        out.write(kZeros, count);
        zeros -= count;
    }
    const std::uint8_t tail[] = {0xF7, 0, 0};
    out.write(tail, sizeof tail);
}

void writeMixed(Output& out, std::uint64_t total, bool commands) {
    const std::uint8_t header[kHeaderChunkSize] = {
        'M',  'T',         'h', 'd', 0, 0, 0, 6,  // tag, length 6
        0,    1,                                  // format 1
        0,    kTrackCount,                        // track count
        0x01, 0xE0,                               // 480 ticks per quarter note
    };
    out.write(header, sizeof header);

    Random random(commands ? 0xD1B54A32D192ED03ULL : 0x9E3779B97F4A7C15ULL);
    const std::uint64_t bodies = total - kHeaderChunkSize - kTrackCount * kChunkHeaderSize;
    for (int i = 0; i < kTrackCount; ++i) {
        const std::uint64_t share = bodies / kTrackCount;
        const std::uint64_t body = i + 1 < kTrackCount ? share : bodies - (kTrackCount - 1) * share;
        writeTrack(out, static_cast<std::uint32_t>(body), i, random, commands);
    }
}

int usage() {
    std::fputs("usage: make_bench_midi plain|commands|runaway [MiB] output.mid\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        return usage();
    }
    const std::string kind = argv[1];
    if (kind != "plain" && kind != "commands" && kind != "runaway") {
        return usage();
    }
    long mebibytes = kind == "runaway" ? 16 : 64;
    if (argc == 4) {
        char* end = nullptr;
        mebibytes = std::strtol(argv[2], &end, 10);
        // Tracks of at most 2^32 - 1 bytes each bound the size: four of them, or one that is
        // nearly all of a runaway file.
        if (*argv[2] == '\0' || *end != '\0' || mebibytes < 1 || mebibytes > 4096) {
            std::fputs("make_bench_midi: size must be a whole number of MiB from 1 to 4096\n",
                       stderr);
            return 2;
        }
    }
    const char* path = argv[argc - 1];

    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return 1;
    }
    Output out(file);
    const std::uint64_t total = static_cast<std::uint64_t>(mebibytes) << 20;
    if (kind == "runaway") {
        writeRunaway(out, total);
    } else {
        writeMixed(out, total, kind == "commands");
    }

    const bool written = out.flush();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path);
        return 1;
    }
    return 0;
}
