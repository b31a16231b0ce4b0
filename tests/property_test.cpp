// Random well-formed MIDI files go through the real converter; the output, read back with the
// tests' own reader, and the trace are checked against an independent model of the conversion.
// LYRIC2SYSEX_PROPERTY_SEED and LYRIC2SYSEX_PROPERTY_COUNT override the seed and the number of
// files. File i is generated from seed + i alone, so a failure names the seed that reproduces it
// with a count of 1.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "smf_reader.h"
#include "support.h"

namespace {

constexpr std::uint64_t kDefaultSeed = 0x4C59524943ull;
// A sanitized converter is many times slower to start and to exit, so such a build runs fewer
// files unless told otherwise.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t kDefaultCount = 150;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::uint64_t kDefaultCount = 150;
#else
constexpr std::uint64_t kDefaultCount = 1000;
#endif
#else
constexpr std::uint64_t kDefaultCount = 1000;
#endif

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text == nullptr || *text == '\0' ? fallback : std::strtoull(text, nullptr, 0);
}

// splitmix64, written out so that a seed means the same file with any compiler and standard
// library. For the same reason no expression below calls it twice in an unsequenced way.
class Rng {
   public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }
    std::uint32_t range(std::uint32_t lo, std::uint32_t hi) { return lo + below(hi - lo + 1); }
    bool percent(std::uint32_t p) { return below(100) < p; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }
    std::uint8_t data() { return static_cast<std::uint8_t>(next() & 0x7F); }

   private:
    std::uint64_t state_;
};

// The conversion as this test understands it.

constexpr std::array<const char*, 5> kPrimary = {"$ADD_UP$", "$ADD_LO$", "$DEL_UL$", "$DEL_UP$",
                                                 "$DEL_LO$"};
constexpr std::array<const char*, 5> kAlternative = {"$ADD_HI$", "$ADD_LO$", "$DEL_HL$", "$DEL_HI$",
                                                     "$DEL_LO$"};
constexpr std::array<const char*, 5> kCommandNames = {"ADD_UP", "ADD_LO", "DEL_UL", "DEL_UP",
                                                      "DEL_LO"};
constexpr std::array<std::array<std::uint8_t, 6>, 5> kSysExHeaders = {{
    {0x00, 0x48, 0x05, 0x7F, 0x07, 0x00},
    {0x00, 0x48, 0x05, 0x7F, 0x07, 0x01},
    {0x00, 0x48, 0x05, 0x7F, 0x06, 0x00},
    {0x00, 0x48, 0x05, 0x7F, 0x06, 0x01},
    {0x00, 0x48, 0x05, 0x7F, 0x06, 0x02},
}};

bool isAdd(int command) {
    return command <= 1;
}

// Only Text and Lyric events count; each of the first eight bytes may come from either spelling.
std::optional<int> commandOf(const smf::Event& event) {
    if (event.kind != smf::EventKind::Meta || (event.meta_type != 0x01 && event.meta_type != 0x05))
        return std::nullopt;
    const Bytes& text = event.data;
    for (int command = 0; command < 5 && text.size() >= 8; ++command) {
        bool match = true;
        for (std::size_t k = 0; k < 8 && match; ++k) {
            match = text[k] == static_cast<std::uint8_t>(kPrimary[command][k]) ||
                    text[k] == static_cast<std::uint8_t>(kAlternative[command][k]);
        }
        if (match)
            return command;
    }
    return std::nullopt;
}

void putVarlen(Bytes& out, std::uint32_t value, int padding = 0) {
    std::uint8_t groups[4];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    out.insert(out.end(), static_cast<std::size_t>(padding), 0x80);
    for (int i = count - 1; i > 0; --i)
        out.push_back(groups[i] | 0x80);
    out.push_back(groups[0]);
}

// The whole SysEx event, delta time included, that replaces a command event.
Bytes expectedSysEx(const smf::Event& text_event, int command) {
    const Bytes& text = text_event.data;
    Bytes out(text_event.raw.begin(),
              text_event.raw.begin() + static_cast<std::ptrdiff_t>(text_event.delta_size));
    out.push_back(0xF0);
    putVarlen(out, isAdd(command) ? static_cast<std::uint32_t>(2 * (text.size() - 8) + 7) : 7);
    out.insert(out.end(), kSysExHeaders[command].begin(), kSysExHeaders[command].end());
    for (std::size_t i = 8; isAdd(command) && i < text.size(); ++i) {
        out.push_back(text[i] >> 4);
        out.push_back(text[i] & 0x0F);
    }
    out.push_back(0xF7);
    return out;
}

std::string expectedTrace(const smf::File& file) {
    static const char* const kChannel[] = {"NOTE OFF", "NOTE ON",  "POLY PRESSURE", "CC",
                                           "PROG",     "PRESSURE", "PBEND"};
    std::string trace;
    for (const smf::Track& track : file.tracks) {
        for (const smf::Event& event : track.events) {
            if (event.kind == smf::EventKind::SysEx) {
                trace += "SysEx\n";
            } else if (event.kind == smf::EventKind::Channel) {
                trace += std::string(kChannel[(event.status >> 4) - 8]) + "\n";
            } else {
                char line[64];
                std::snprintf(line, sizeof line, "ME %02X, size=%u\n", event.meta_type,
                              event.length);
                trace += line;
            }
            if (const auto command = commandOf(event))
                trace += std::string("COM ") + kCommandNames[*command] + "\n";
        }
    }
    return trace;
}

// Random well-formed files.
class Generator {
   public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    // Whether a track may start in the running status the previous one left.
    bool crossTrack() const { return cross_track_; }

    Bytes file() {
        cross_track_ = rng_.percent(30);
        const std::uint32_t tracks = rng_.percent(15) ? 1 : rng_.range(1, 8);
        const std::uint32_t format = tracks == 1 ? rng_.below(3) : rng_.range(1, 2);
        std::uint32_t division = rng_.range(1, 0x7FFF);
        if (rng_.percent(20)) {  // SMPTE frames per second and ticks per frame
            static constexpr std::uint8_t kFrames[] = {0xE8, 0xE7, 0xE3, 0xE2};
            division = kFrames[rng_.below(4)] << 8;
            division |= rng_.range(1, 255);
        }
        Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
        putBigEndian(out, format << 16 | tracks, 4);
        putBigEndian(out, division, 2);
        status_ = 0;
        for (std::uint32_t i = 0; i < tracks; ++i) {
            const Bytes events = track();
            out.insert(out.end(), {'M', 'T', 'r', 'k'});
            putBigEndian(out, static_cast<std::uint32_t>(events.size()), 4);
            out.insert(out.end(), events.begin(), events.end());
        }
        return out;
    }

   private:
    static void putBigEndian(Bytes& out, std::uint32_t value, int size) {
        for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(value >> shift));
    }

    // A variable-length number, now and then stored with redundant leading groups.
    void varlen(Bytes& out, std::uint32_t value) {
        int groups = 1;
        while (groups < 4 && (value >> (7 * groups)) != 0)
            ++groups;
        const int padding = groups < 4 && rng_.percent(3) ? rng_.range(1, 4 - groups) : 0;
        putVarlen(out, value, padding);
    }

    void delta(Bytes& out) {
        const std::uint32_t roll = rng_.below(100);
        const std::uint32_t bound = roll < 45   ? 1
                                    : roll < 80 ? 0x80
                                    : roll < 95 ? 0x4000
                                                : 1u << 28;
        varlen(out, bound == 1 ? 0 : rng_.below(bound));
    }

    Bytes track() {
        if (!cross_track_)
            status_ = 0;
        Bytes out;
        const std::uint32_t count =
            rng_.percent(10) ? 0 : rng_.range(1, rng_.percent(20) ? 60 : 20);
        for (std::uint32_t i = 0; i < count; ++i) {
            delta(out);
            const std::uint32_t roll = rng_.below(100);
            if (roll < 45)
                channel(out);
            else if (roll < 57)
                sysEx(out);
            else
                meta(out);
        }
        delta(out);
        out.insert(out.end(), {0xFF, 0x2F, 0x00});
        return out;
    }

    // Every kind of channel message, in running status where one is in effect.
    void channel(Bytes& out) {
        if (status_ == 0 || !rng_.percent(40)) {
            status_ = static_cast<std::uint8_t>(0x80 + rng_.below(7) * 0x10);
            status_ = static_cast<std::uint8_t>(status_ + rng_.below(16));
            out.push_back(status_);
        }
        for (int i = 0; i < smf::channelDataCount(status_); ++i)
            out.push_back(rng_.data());
    }

    enum Fill { kData, kAny, kPrintable };
    Bytes bytes(std::uint32_t size, Fill fill) {
        Bytes body;
        for (std::uint32_t i = 0; i < size; ++i) {
            body.push_back(fill == kAny    ? rng_.byte()
                           : fill == kData ? rng_.data()
                                           : static_cast<std::uint8_t>(rng_.range(32, 126)));
        }
        return body;
    }

    void sysEx(Bytes& out) {
        const std::uint32_t roll = rng_.below(10);
        const std::uint32_t size = rng_.percent(5) ? rng_.range(100, 300) : rng_.below(30);
        Bytes body = bytes(size, roll >= 7 ? kAny : kData);
        if (roll < 5) {  // a whole message
            body.push_back(0xF7);
            block(out, {0xF0}, body);
        } else if (roll < 7) {  // a message sent in two packets
            block(out, {0xF0}, body);
            delta(out);
            body = bytes(rng_.below(10), kData);
            body.push_back(0xF7);
            block(out, {0xF7}, body);
        } else {  // an escape: any bytes at all
            block(out, {0xF7}, body);
        }
    }

    // A SysEx or meta event after its delta time: its status, or FF and type, then its length.
    void block(Bytes& out, std::initializer_list<std::uint8_t> head, const Bytes& body) {
        out.insert(out.end(), head);
        varlen(out, static_cast<std::uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }

    void meta(Bytes& out) {
        const std::uint32_t roll = rng_.below(100);
        if (roll < 65) {  // Text and Lyric, or another text-like type
            static constexpr std::uint8_t kTextLike[] = {0x02, 0x03, 0x04, 0x06, 0x07,
                                                         0x08, 0x09, 0x0A, 0x0F};
            const std::uint8_t type =
                roll < 45 ? (rng_.percent(50) ? 0x01 : 0x05) : kTextLike[rng_.below(9)];
            return block(out, {0xFF, type}, text());
        }
        // The types of fixed size and a sequencer-specific event.
        static constexpr std::uint8_t kTypes[] = {0x00, 0x20, 0x21, 0x51, 0x54, 0x58, 0x59, 0x7F};
        static constexpr std::uint8_t kSizes[] = {2, 1, 1, 3, 5, 4, 2};
        const std::uint32_t which = rng_.below(10);
        if (which < 8) {
            const std::uint32_t size = which == 7                        ? rng_.below(20)
                                       : which == 0 && !rng_.percent(80) ? 0
                                                                         : kSizes[which];
            Bytes body = bytes(size, kAny);
            if (which == 1)
                body[0] &= 0x0F;  // a MIDI channel
            if (which == 2)
                body[0] &= 0x7F;  // a port
            return block(out, {0xFF, kTypes[which]}, body);
        }
        // A type the standard does not define: passed on like any other.
        std::uint8_t type = 0;
        while (type <= 0x0F || type == 0x2F || std::find(kTypes, kTypes + 7, type) != kTypes + 7)
            type = rng_.data();
        block(out, {0xFF, type}, bytes(rng_.below(rng_.percent(10) ? 200 : 12), kAny));
    }

    Bytes payload(std::uint32_t size) { return bytes(size, rng_.percent(30) ? kAny : kPrintable); }

    Bytes text() {
        const std::uint32_t roll = rng_.below(100);
        if (roll >= 85)  // free text
            return payload(rng_.percent(80) ? rng_.below(40) : rng_.below(301));
        // A command with each of its eight bytes taken from either spelling.
        const std::uint32_t command = rng_.below(5);
        const bool mixed = rng_.percent(30);
        const bool alternative = rng_.percent(50);
        Bytes word;
        for (std::size_t k = 0; k < 8; ++k) {
            const bool pick = mixed ? rng_.percent(50) : alternative;
            word.push_back(static_cast<std::uint8_t>((pick ? kAlternative : kPrimary)[command][k]));
        }
        if (roll >= 72) {  // shorter than a command
            word.resize(rng_.below(8));
            return word;
        }
        if (roll >= 67) {  // something before the command
            word.insert(word.begin(), rng_.percent(50) ? ' ' : rng_.byte());
        } else if (roll >= 62) {  // lower case
            for (std::uint8_t& b : word)
                b = static_cast<std::uint8_t>(std::tolower(b));
        } else if (roll >= 50) {  // one byte of the command changed
            const std::uint8_t changed =
                rng_.percent(50) ? rng_.byte() : static_cast<std::uint8_t>(rng_.range(32, 126));
            word[rng_.below(8)] = changed;
        }
        // Sizes near 60 give a SysEx length of one byte or two.
        const std::uint32_t size_roll = rng_.below(100);
        const Bytes rest = payload(size_roll < 20   ? 0
                                   : size_roll < 60 ? rng_.range(1, 20)
                                   : size_roll < 75 ? rng_.range(56, 66)
                                                    : rng_.range(21, 300));
        word.insert(word.end(), rest.begin(), rest.end());
        return word;
    }

    Rng rng_;
    bool cross_track_ = false;
    std::uint8_t status_ = 0;
};

void checkConversion(const smf::File& input, const Bytes& output, const smf::Options& options) {
    const smf::ParseResult parsed = smf::parse(output, options);
    ASSERT_TRUE(parsed.ok()) << "output does not parse: " << parsed.error;
    const smf::File& out = parsed.file;
    EXPECT_EQ(out.format, input.format);
    EXPECT_EQ(out.track_count, input.track_count);
    EXPECT_EQ(out.division, input.division);
    ASSERT_EQ(out.tracks.size(), input.tracks.size());
    for (std::size_t t = 0; t < input.tracks.size(); ++t) {
        const auto& in_events = input.tracks[t].events;
        const auto& out_events = out.tracks[t].events;
        ASSERT_EQ(out_events.size(), in_events.size()) << "track " << t;
        for (std::size_t i = 0; i < in_events.size() && !::testing::Test::HasFailure(); ++i) {
            const smf::Event& in = in_events[i];
            const smf::Event& got = out_events[i];
            SCOPED_TRACE("track " + std::to_string(t) + " event " + std::to_string(i));
            // The whole event; every earlier one matched, so equal bytes read the same way.
            const auto command = commandOf(in);
            EXPECT_EQ(hexString(got.raw),
                      hexString(command ? expectedSysEx(in, *command) : in.raw));
            if (command && isAdd(*command)) {  // the payload read back from the nibbles
                Bytes decoded;
                for (std::size_t k = 6; k + 2 < got.data.size(); k += 2)
                    decoded.push_back(
                        static_cast<std::uint8_t>(got.data[k] << 4 | got.data[k + 1]));
                EXPECT_EQ(hexString(decoded), hexString(Bytes(in.data.begin() + 8, in.data.end())));
            }
        }
    }
}

TEST(PropertyRoundTrip, RandomFilesConvertAsModelled) {
    const std::uint64_t seed = envNumber("LYRIC2SYSEX_PROPERTY_SEED", kDefaultSeed);
    const std::uint64_t count = envNumber("LYRIC2SYSEX_PROPERTY_COUNT", kDefaultCount);
    ScratchDir dir;
    const std::string input_path = dir.path("in.mid");
    const std::string output_path = dir.path("out.mid");
    for (std::uint64_t i = 0; i < count; ++i) {
        SCOPED_TRACE("reproduce with LYRIC2SYSEX_PROPERTY_SEED=" + std::to_string(seed + i) +
                     " LYRIC2SYSEX_PROPERTY_COUNT=1");
        Generator generator(seed + i);
        const Bytes input = generator.file();
        smf::Options options;
        options.running_status_across_tracks = generator.crossTrack();
        const smf::ParseResult parsed = smf::parse(input, options);
        ASSERT_TRUE(parsed.ok()) << "generated file is malformed: " << parsed.error << "\n"
                                 << hexString(input);

        writeFile(input_path, input);
        unlink(output_path.c_str());
        const RunResult run = runConverter({input_path, output_path});
        const Bytes output = fileExists(output_path) ? readFile(output_path) : Bytes{};
        EXPECT_EQ(run.exit_status, 0) << "signal " << run.signal;
        checkConversion(parsed.file, output, options);
        EXPECT_EQ(run.out, expectedTrace(parsed.file));
        if (HasFailure())
            FAIL() << "input  " << hexString(input) << "\noutput " << hexString(output);
    }
}

}  // namespace
