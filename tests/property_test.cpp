// Generated round trips: thousands of random well-formed MIDI files go through the real
// converter, and the output and the trace are checked against an independent model of the
// conversion, read back with the test's own strict reader.
//
// LYRIC2SYSEX_PROPERTY_SEED and LYRIC2SYSEX_PROPERTY_COUNT override the seed and the number of
// files for longer runs. File i is generated from seed + i alone, so a failure names the seed
// that reproduces it with a count of 1.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "smf_reader.h"
#include "support.h"

namespace {

constexpr std::uint64_t kDefaultSeed = 0x4C59524943ull;
// A sanitized converter takes many times longer to start and to check for leaks at exit, so a
// sanitizer build runs fewer files unless told otherwise.
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
    if (text == nullptr || *text == '\0')
        return fallback;
    return std::strtoull(text, nullptr, 0);
}

// splitmix64, written out so that a seed means the same file with any compiler and standard
// library.
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
    std::uint32_t range(std::uint32_t low, std::uint32_t high) {
        return low + below(high - low + 1);
    }
    bool percent(std::uint32_t p) { return below(100) < p; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }
    std::uint8_t data() { return static_cast<std::uint8_t>(next() & 0x7F); }

   private:
    std::uint64_t state_;
};

// ---------------------------------------------------------------------------------------------
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

// The command a text carries: each of its first eight bytes may come from either spelling.
std::optional<int> commandInText(const Bytes& text) {
    if (text.size() < 8)
        return std::nullopt;
    for (int command = 0; command < 5; ++command) {
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

// Only Text and Lyric events are looked at.
std::optional<int> commandOf(const smf::Event& event) {
    if (event.kind != smf::EventKind::Meta)
        return std::nullopt;
    if (event.meta_type != 0x01 && event.meta_type != 0x05)
        return std::nullopt;
    return commandInText(event.data);
}

void putVarlen(Bytes& out, std::uint32_t value, int padding = 0) {
    std::uint8_t groups[4];
    int count = 0;
    do {
        groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    for (int i = 0; i < padding; ++i)
        out.push_back(0x80);
    for (int i = count - 1; i > 0; --i)
        out.push_back(groups[i] | 0x80);
    out.push_back(groups[0]);
}

std::uint32_t sysExLengthValue(int command, std::size_t text_size) {
    return isAdd(command) ? static_cast<std::uint32_t>(2 * (text_size - 8) + 7) : 7;
}

// The whole SysEx event, delta time included, that replaces a command event.
Bytes expectedSysEx(const smf::Event& text_event, int command) {
    Bytes out(text_event.raw.begin(),
              text_event.raw.begin() + static_cast<std::ptrdiff_t>(text_event.delta_size));
    out.push_back(0xF0);
    putVarlen(out, sysExLengthValue(command, text_event.data.size()));
    out.insert(out.end(), kSysExHeaders[command].begin(), kSysExHeaders[command].end());
    if (isAdd(command)) {
        for (std::size_t i = 8; i < text_event.data.size(); ++i) {
            out.push_back(text_event.data[i] >> 4);
            out.push_back(text_event.data[i] & 0x0F);
        }
    }
    out.push_back(0xF7);
    return out;
}

std::string traceLine(const smf::Event& event) {
    switch (event.kind) {
        case smf::EventKind::SysEx:
            return "SysEx";
        case smf::EventKind::Meta: {
            char line[64];
            std::snprintf(line, sizeof line, "ME %02X, size=%u", event.meta_type, event.length);
            return line;
        }
        case smf::EventKind::Channel:
            break;
    }
    switch (event.status & 0xF0) {
        case 0x80:
            return "NOTE OFF";
        case 0x90:
            return "NOTE ON";
        case 0xA0:
            return "POLY PRESSURE";
        case 0xB0:
            return "CC";
        case 0xC0:
            return "PROG";
        case 0xD0:
            return "PRESSURE";
        default:
            return "PBEND";
    }
}

std::string expectedTrace(const smf::File& file) {
    std::string trace;
    for (const smf::Track& track : file.tracks) {
        for (const smf::Event& event : track.events) {
            trace += traceLine(event) + "\n";
            if (const auto command = commandOf(event)) {
                trace += std::string("COM ") + kCommandNames[*command] + "\n";
            }
        }
    }
    return trace;
}

// ---------------------------------------------------------------------------------------------
// Random well-formed files.

class Generator {
   public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    // Whether a track may start in the running status the previous one left.
    bool crossTrack() const { return cross_track_; }

    Bytes file() {
        cross_track_ = rng_.percent(30);
        const std::uint32_t tracks = rng_.percent(15) ? 1 : rng_.range(1, 8);
        const std::uint16_t format =
            static_cast<std::uint16_t>(tracks == 1 ? rng_.below(3) : rng_.range(1, 2));
        std::uint16_t division = static_cast<std::uint16_t>(rng_.range(1, 0x7FFF));
        if (rng_.percent(20)) {
            static constexpr std::uint8_t kFrames[] = {0xE8, 0xE7, 0xE3, 0xE2};
            division = static_cast<std::uint16_t>(kFrames[rng_.below(4)] << 8 | rng_.range(1, 255));
        }
        Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
        putU16(out, format);
        putU16(out, static_cast<std::uint16_t>(tracks));
        putU16(out, division);
        status_ = 0;
        for (std::uint32_t i = 0; i < tracks; ++i) {
            const Bytes events = track();
            out.insert(out.end(), {'M', 'T', 'r', 'k'});
            putU32(out, static_cast<std::uint32_t>(events.size()));
            out.insert(out.end(), events.begin(), events.end());
        }
        return out;
    }

   private:
    static void putU16(Bytes& out, std::uint16_t value) {
        out.push_back(static_cast<std::uint8_t>(value >> 8));
        out.push_back(static_cast<std::uint8_t>(value));
    }
    static void putU32(Bytes& out, std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
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
        std::uint32_t value = 0;
        if (roll >= 45 && roll < 80)
            value = rng_.below(0x80);
        if (roll >= 80 && roll < 95)
            value = rng_.below(0x4000);
        if (roll >= 95)
            value = rng_.below(0x10000000);
        varlen(out, value);
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
            if (roll < 45) {
                channel(out);
            } else if (roll < 57) {
                sysEx(out);
            } else {
                meta(out);
            }
        }
        delta(out);
        out.insert(out.end(), {0xFF, 0x2F, 0x00});
        return out;
    }

    void channel(Bytes& out) {
        std::uint8_t status = status_;
        if (status == 0 || !rng_.percent(40)) {
            status = static_cast<std::uint8_t>(0x80 + rng_.below(7) * 0x10 + rng_.below(16));
            out.push_back(status);
        }
        status_ = status;
        for (int i = 0; i < smf::channelDataCount(status); ++i)
            out.push_back(rng_.data());
    }

    void sysEx(Bytes& out) {
        const std::uint32_t roll = rng_.below(10);
        Bytes body;
        const std::uint32_t size = rng_.percent(5) ? rng_.range(100, 300) : rng_.below(30);
        if (roll < 5) {  // a whole message
            for (std::uint32_t i = 0; i < size; ++i)
                body.push_back(rng_.data());
            body.push_back(0xF7);
            block(out, 0xF0, body);
        } else if (roll < 7) {  // a message sent in two packets
            for (std::uint32_t i = 0; i < size; ++i)
                body.push_back(rng_.data());
            block(out, 0xF0, body);
            delta(out);
            body.clear();
            for (std::uint32_t i = rng_.below(10); i > 0; --i)
                body.push_back(rng_.data());
            body.push_back(0xF7);
            block(out, 0xF7, body);
        } else {  // an escape: any bytes at all
            for (std::uint32_t i = 0; i < size; ++i)
                body.push_back(rng_.byte());
            block(out, 0xF7, body);
        }
    }

    void block(Bytes& out, std::uint8_t status, const Bytes& body) {
        out.push_back(status);
        varlen(out, static_cast<std::uint32_t>(body.size()));
        out.insert(out.end(), body.begin(), body.end());
    }

    void metaEvent(Bytes& out, std::uint8_t type, const Bytes& body) {
        out.push_back(0xFF);
        block(out, type, body);
    }

    Bytes randomBytes(std::uint32_t size) {
        Bytes bytes;
        for (std::uint32_t i = 0; i < size; ++i)
            bytes.push_back(rng_.byte());
        return bytes;
    }

    void meta(Bytes& out) {
        const std::uint32_t roll = rng_.below(100);
        if (roll < 45)
            return metaEvent(out, rng_.percent(50) ? 0x01 : 0x05, text());
        if (roll < 65) {
            static constexpr std::uint8_t kTextLike[] = {0x02, 0x03, 0x04, 0x06, 0x07,
                                                         0x08, 0x09, 0x0A, 0x0F};
            return metaEvent(out, kTextLike[rng_.below(9)], text());
        }
        switch (rng_.below(10)) {
            case 0:
                return metaEvent(out, 0x00, randomBytes(rng_.percent(80) ? 2 : 0));
            case 1:
                return metaEvent(out, 0x20, {static_cast<std::uint8_t>(rng_.below(16))});
            case 2:
                return metaEvent(out, 0x21, {rng_.data()});
            case 3:
                return metaEvent(out, 0x51, randomBytes(3));
            case 4:
                return metaEvent(out, 0x54, randomBytes(5));
            case 5:
                return metaEvent(out, 0x58, randomBytes(4));
            case 6:
                return metaEvent(out, 0x59, randomBytes(2));
            case 7:
                return metaEvent(out, 0x7F, randomBytes(rng_.below(20)));
            default: {  // a type the standard does not define: passed on like any other
                std::uint8_t type = 0;
                do {
                    type = rng_.data();
                } while (type <= 0x0F || type == 0x20 || type == 0x21 || type == 0x2F ||
                         type == 0x51 || type == 0x54 || type == 0x58 || type == 0x59);
                return metaEvent(out, type, randomBytes(rng_.below(rng_.percent(10) ? 200 : 12)));
            }
        }
    }

    std::uint32_t payloadSize() {
        const std::uint32_t roll = rng_.below(100);
        if (roll < 20)
            return 0;
        if (roll < 60)
            return rng_.range(1, 20);
        if (roll < 75)
            return rng_.range(56, 66);  // around the two-byte SysEx length
        return rng_.range(21, 300);
    }

    Bytes payload(std::uint32_t size) {
        Bytes bytes;
        const bool any_byte = rng_.percent(30);
        for (std::uint32_t i = 0; i < size; ++i) {
            bytes.push_back(any_byte ? rng_.byte()
                                     : static_cast<std::uint8_t>(rng_.range(32, 126)));
        }
        return bytes;
    }

    // Command text with each of the eight bytes taken from either spelling.
    Bytes commandWord() {
        const std::uint32_t command = rng_.below(5);
        const bool mixed = rng_.percent(30);
        const bool alternative = rng_.percent(50);
        Bytes word;
        for (std::size_t k = 0; k < 8; ++k) {
            const bool pick = mixed ? rng_.percent(50) : alternative;
            word.push_back(static_cast<std::uint8_t>((pick ? kAlternative : kPrimary)[command][k]));
        }
        return word;
    }

    Bytes text() {
        const std::uint32_t roll = rng_.below(100);
        if (roll >= 85) {  // free text
            return payload(rng_.percent(80) ? rng_.below(40) : rng_.below(301));
        }
        Bytes word = commandWord();
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
            word[rng_.below(8)] =
                rng_.percent(50) ? rng_.byte() : static_cast<std::uint8_t>(rng_.range(32, 126));
        }
        const Bytes rest = payload(payloadSize());
        word.insert(word.end(), rest.begin(), rest.end());
        return word;
    }

    Rng rng_;
    bool cross_track_ = false;
    std::uint8_t status_ = 0;
};

// ---------------------------------------------------------------------------------------------
// What the run covered: the test fails if the generator stops producing a kind of case.

struct Coverage {
    std::map<std::string, std::uint64_t> counts;
    void add(const std::string& what) { ++counts[what]; }

    void fromInput(const smf::File& file) {
        std::uint8_t previous_kind = 0;  // 1 meta, 2 SysEx, 3 channel
        for (std::size_t t = 0; t < file.tracks.size(); ++t) {
            const smf::Track& track = file.tracks[t];
            for (std::size_t i = 0; i < track.events.size(); ++i) {
                const smf::Event& event = track.events[i];
                if (event.kind == smf::EventKind::Channel) {
                    add("channel " + traceLine(event));
                    if (event.running_status) {
                        if (i == 0)
                            add("running status at track start");
                        if (i > 0 && previous_kind == 1)
                            add("running status after meta");
                        if (i > 0 && previous_kind == 2)
                            add("running status after SysEx");
                    }
                    previous_kind = 3;
                } else if (event.kind == smf::EventKind::SysEx) {
                    add(event.status == 0xF0 ? "SysEx F0" : "SysEx F7");
                    previous_kind = 2;
                } else {
                    previous_kind = 1;
                    fromMeta(event);
                }
                const std::size_t length_size = event.raw.size() - event.delta_size - 1 -
                                                event.length -
                                                (event.kind == smf::EventKind::Meta ? 1 : 0);
                if (event.kind != smf::EventKind::Channel && length_size > 1 &&
                    event.length < 0x80) {
                    add("padded length field");
                }
            }
        }
    }

    void fromMeta(const smf::Event& event) {
        const Bytes& text = event.data;
        const bool text_like = event.meta_type >= 0x01 && event.meta_type <= 0x0F;
        char type[8];
        std::snprintf(type, sizeof type, "%02X", text_like ? 0x01 : event.meta_type);
        if (!text_like)
            add(std::string("meta ") + type);
        if (!text_like)
            return;
        const auto command = commandOf(event);
        if (!command) {
            if (commandInText(text))
                add("command text in another text type");
            if (text.size() < 8 && !text.empty() && text[0] == '$')
                add("short text from '$'");
            if (text.size() >= 8 && (event.meta_type == 1 || event.meta_type == 5)) {
                add("text or lyric without command");
            }
            return;
        }
        add(std::string("command ") + kCommandNames[*command] +
            (event.meta_type == 1 ? " in Text" : " in Lyric"));
        bool primary = true, alternative = true;
        for (std::size_t k = 0; k < 8; ++k) {
            primary = primary && text[k] == static_cast<std::uint8_t>(kPrimary[*command][k]);
            alternative =
                alternative && text[k] == static_cast<std::uint8_t>(kAlternative[*command][k]);
        }
        if (!primary && !alternative)
            add("mixed spelling");
        if (isAdd(*command) && text.size() == 8)
            add("add without payload");
        if (isAdd(*command) && sysExLengthValue(*command, text.size()) >= 0x80) {
            add("two-byte SysEx length");
        }
        if (!isAdd(*command) && text.size() > 8)
            add("delete with extra text");
        for (std::size_t i = 8; i < text.size(); ++i) {
            if (text[i] >= 0x80) {
                add("payload byte above 7F");
                break;
            }
        }
    }
};

// ---------------------------------------------------------------------------------------------
// One file through the converter.

bool sameEvent(const smf::Event& a, const smf::Event& b) {
    return a.raw == b.raw && a.kind == b.kind && a.status == b.status &&
           a.running_status == b.running_status && a.meta_type == b.meta_type && a.data == b.data;
}

std::string describe(const smf::Event& event) {
    return hexString(event.raw);
}

// Checks a command's replacement event field by field, for a readable report.
void checkCommandEvent(const smf::Event& text_event, int command, const smf::Event& out,
                       std::vector<std::string>& problems, const std::string& where) {
    if (out.kind != smf::EventKind::SysEx || out.status != 0xF0) {
        problems.push_back(where + ": expected an F0 SysEx event, got " + describe(out));
        return;
    }
    if (out.delta != text_event.delta)
        problems.push_back(where + ": delta time changed");
    const std::uint32_t length = sysExLengthValue(command, text_event.data.size());
    if (out.length != length) {
        problems.push_back(where + ": SysEx length " + std::to_string(out.length) + ", expected " +
                           std::to_string(length));
        return;
    }
    if (!std::equal(kSysExHeaders[command].begin(), kSysExHeaders[command].end(),
                    out.data.begin())) {
        problems.push_back(where + ": header bytes of " + kCommandNames[command] + " wrong");
    }
    if (out.data.back() != 0xF7)
        problems.push_back(where + ": SysEx does not end with F7");
    if (isAdd(command)) {
        Bytes decoded;
        for (std::size_t i = 6; i + 2 < out.data.size(); i += 2) {
            if (out.data[i] > 0x0F || out.data[i + 1] > 0x0F) {
                problems.push_back(where + ": payload byte above 0F");
                break;
            }
            decoded.push_back(static_cast<std::uint8_t>(out.data[i] << 4 | out.data[i + 1]));
        }
        if (decoded != Bytes(text_event.data.begin() + 8, text_event.data.end())) {
            problems.push_back(where + ": decoded payload differs from the text");
        }
    }
    const Bytes expected = expectedSysEx(text_event, command);
    if (out.raw != expected) {
        problems.push_back(where + ": event is " + describe(out) + ", expected " +
                           hexString(expected));
    }
}

std::vector<std::string> checkConversion(const smf::File& input, const Bytes& output,
                                         const RunResult& run, const smf::Options& options) {
    std::vector<std::string> problems;
    if (run.exit_status != 0) {
        problems.push_back("exit status " + std::to_string(run.exit_status) + ", signal " +
                           std::to_string(run.signal));
    }
    const smf::ParseResult parsed = smf::parse(output, options);
    if (!parsed.ok()) {
        problems.push_back("output does not parse: " + parsed.error);
        return problems;
    }
    const smf::File& out = parsed.file;
    if (out.format != input.format || out.track_count != input.track_count ||
        out.division != input.division) {
        problems.push_back("header changed");
    }
    for (std::size_t t = 0; t < input.tracks.size() && t < out.tracks.size(); ++t) {
        const auto& in_events = input.tracks[t].events;
        const auto& out_events = out.tracks[t].events;
        if (in_events.size() != out_events.size()) {
            problems.push_back("track " + std::to_string(t) + ": " +
                               std::to_string(out_events.size()) + " events, expected " +
                               std::to_string(in_events.size()));
            continue;
        }
        for (std::size_t i = 0; i < in_events.size(); ++i) {
            const std::string where = "track " + std::to_string(t) + " event " + std::to_string(i);
            if (const auto command = commandOf(in_events[i])) {
                checkCommandEvent(in_events[i], *command, out_events[i], problems, where);
            } else if (!sameEvent(in_events[i], out_events[i])) {
                problems.push_back(where + ": " + describe(out_events[i]) + ", expected " +
                                   describe(in_events[i]));
            }
        }
    }
    const std::string trace = expectedTrace(input);
    if (run.out != trace) {
        std::istringstream expected_lines(trace), actual_lines(run.out);
        std::string expected_line, actual_line;
        for (int line = 1;; ++line) {
            const bool more_expected =
                static_cast<bool>(std::getline(expected_lines, expected_line));
            const bool more_actual = static_cast<bool>(std::getline(actual_lines, actual_line));
            if (!more_expected && !more_actual) {
                problems.push_back("trace differs in its line endings");
                break;
            }
            if (more_expected != more_actual || expected_line != actual_line) {
                problems.push_back("trace line " + std::to_string(line) + ": \"" +
                                   (more_actual ? actual_line : "<end>") + "\", expected \"" +
                                   (more_expected ? expected_line : "<end>") + "\"");
                break;
            }
        }
    }
    return problems;
}

TEST(PropertyRoundTrip, RandomFilesConvertAsModelled) {
    const std::uint64_t seed = envNumber("LYRIC2SYSEX_PROPERTY_SEED", kDefaultSeed);
    const std::uint64_t count = envNumber("LYRIC2SYSEX_PROPERTY_COUNT", kDefaultCount);
    std::printf("property seed %llu, %llu files\n", static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(count));
    ScratchDir dir;
    const std::string input_path = dir.path("in.mid");
    const std::string output_path = dir.path("out.mid");
    Coverage coverage;
    std::uint64_t commands = 0, checked = 0;
    const auto start = std::chrono::steady_clock::now();

    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t file_seed = seed + i;
        Generator generator(file_seed);
        const Bytes input = generator.file();
        smf::Options options;
        options.running_status_across_tracks = generator.crossTrack();
        const smf::ParseResult parsed = smf::parse(input, options);
        ASSERT_TRUE(parsed.ok()) << "generated file is malformed (" << parsed.error << "), seed "
                                 << file_seed << "\n"
                                 << hexString(input);
        coverage.fromInput(parsed.file);
        for (const auto& track : parsed.file.tracks) {
            for (const auto& event : track.events)
                commands += commandOf(event) ? 1 : 0;
        }

        writeFile(input_path, input);
        unlink(output_path.c_str());
        const RunResult run = runConverter({input_path, output_path});
        const Bytes output = fileExists(output_path) ? readFile(output_path) : Bytes{};
        const std::vector<std::string> problems =
            checkConversion(parsed.file, output, run, options);
        ++checked;
        if (!problems.empty()) {
            std::string report;
            for (const std::string& problem : problems)
                report += "  " + problem + "\n";
            FAIL() << "file " << i << " of seed " << seed
                   << " (reproduce: LYRIC2SYSEX_PROPERTY_SEED=" << file_seed
                   << " LYRIC2SYSEX_PROPERTY_COUNT=1)\n"
                   << report << "input:  " << hexString(input) << "\noutput: " << hexString(output)
                   << "\ntrace:\n"
                   << run.out;
        }
    }

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu files, %llu commands, %.2f s\n", static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(commands), seconds);

    // Every case shows up within a hundred files of the seeds tried; fewer may miss some.
    if (count < 100)
        return;
    static const char* const kExpected[] = {
        "channel NOTE OFF",
        "channel NOTE ON",
        "channel POLY PRESSURE",
        "channel CC",
        "channel PROG",
        "channel PRESSURE",
        "channel PBEND",
        "running status at track start",
        "running status after meta",
        "running status after SysEx",
        "SysEx F0",
        "SysEx F7",
        "meta 00",
        "meta 20",
        "meta 21",
        "meta 2F",
        "meta 51",
        "meta 54",
        "meta 58",
        "meta 59",
        "meta 7F",
        "padded length field",
        "command text in another text type",
        "short text from '$'",
        "text or lyric without command",
        "command ADD_UP in Text",
        "command ADD_LO in Text",
        "command DEL_UL in Text",
        "command DEL_UP in Text",
        "command DEL_LO in Text",
        "command ADD_UP in Lyric",
        "command ADD_LO in Lyric",
        "command DEL_UL in Lyric",
        "command DEL_UP in Lyric",
        "command DEL_LO in Lyric",
        "mixed spelling",
        "add without payload",
        "two-byte SysEx length",
        "delete with extra text",
        "payload byte above 7F",
    };
    for (const char* what : kExpected) {
        EXPECT_GT(coverage.counts[what], 0u) << "no generated file had: " << what;
    }
}

}  // namespace
