// Random well-formed files through the real converter, each checked against a small model of the
// conversion that reads the generated file by itself and says what the output and trace must be.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "support.h"

namespace {

// Every spelling of a command (at each position the byte of either of its two spellings): its
// name and the last two bytes of its SysEx header.
const std::map<std::string, std::string> kCommands = {
    {"$ADD_UP$", "ADD_UP 07 00"}, {"$ADD_HI$", "ADD_UP 07 00"}, {"$ADD_UI$", "ADD_UP 07 00"},
    {"$ADD_HP$", "ADD_UP 07 00"}, {"$ADD_LO$", "ADD_LO 07 01"}, {"$DEL_UL$", "DEL_UL 06 00"},
    {"$DEL_HL$", "DEL_UL 06 00"}, {"$DEL_UP$", "DEL_UP 06 01"}, {"$DEL_HI$", "DEL_UP 06 01"},
    {"$DEL_UI$", "DEL_UP 06 01"}, {"$DEL_HP$", "DEL_UP 06 01"}, {"$DEL_LO$", "DEL_LO 06 02"}};
const std::string kChannel[] = {"NOTE OFF", "NOTE ON",  "POLY PRESSURE", "CC",
                                "PROG",     "PRESSURE", "PBEND"};

std::string pair(unsigned byte) {
    return {"0123456789ABCDEF"[byte >> 4 & 0x0F], "0123456789ABCDEF"[byte & 0x0F], ' '};
}

std::string listing(const Bytes& bytes, std::size_t from, std::size_t to) {
    return from < to ? pair(bytes[from]) + listing(bytes, from + 1, to) : "";
}

std::string varlen(std::size_t value, unsigned more = 0) {
    return (value > 0x7F ? varlen(value >> 7, 0x80) : "") + pair(more | (value & 0x7F));
}

std::size_t readVarlen(const Bytes& in, std::size_t& at) {
    std::size_t value = in[at] & 0x7F;
    while ((in[at++] & 0x80) != 0)
        value = value << 7 | (in[at] & 0x7F);
    return value;
}

unsigned dataBytes(unsigned status) {
    return status >> 4 == 0xC || status >> 4 == 0xD ? 1 : 2;
}

// Channel messages of every kind, in running status now and then (after other events and across
// tracks too), SysEx events, and meta events whose texts are commands in any of their spellings,
// such commands with a byte changed or cut short, or any bytes at all.
std::string generate(std::mt19937& rng) {
    const auto pick = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    std::vector<std::string> tracks(1 + pick(3));
    unsigned running = 0;
    for (std::string& events : tracks) {
        for (unsigned n = pick(12); n > 0; --n) {
            events += varlen(pick(4) == 0 ? rng() & 0x0FFFFFFF : pick(200));
            if (pick(3) == 0) {
                if (running == 0 || pick(3) != 0)
                    events += pair(running = 0x80 + pick(0x70));
                for (unsigned i = dataBytes(running); i > 0; --i)
                    events += pair(pick(0x80));
                continue;
            }
            const std::string& word = std::next(kCommands.begin(), pick(12))->first;
            Bytes text(word.begin(), pick(4) == 0 ? word.begin() : word.end());
            if (pick(4) == 0 && !text.empty())
                text[pick(8)] ^= 1 + pick(255);
            if (pick(8) == 0)
                text.resize(pick(9));
            for (unsigned i = pick(pick(4) == 0 ? 200 : 20); i > 0; --i)
                text.push_back(static_cast<std::uint8_t>(rng()));
            const std::string kinds[] = {"FF 01 ", "FF 05 ", "FF 03 ", "FF 7F ", "F0 ", "F7 "};
            events += kinds[pick(6)] + varlen(text.size()) + listing(text, 0, text.size());
        }
        events += varlen(pick(100)) + "FF 2F 00";
    }
    return song(tracks);
}

// The converted file as a listing, and the trace.
std::pair<std::string, std::string> model(const Bytes& in) {
    std::vector<std::string> tracks;
    std::string trace;
    unsigned running = 0;
    for (std::size_t at = 14; at < in.size();) {
        const std::size_t end =
            at + 8 + (in[at + 4] << 24 | in[at + 5] << 16 | in[at + 6] << 8 | in[at + 7]);
        std::string& events = tracks.emplace_back();
        for (at += 8; at < end;) {
            const std::size_t start = at;
            readVarlen(in, at);
            const std::size_t delta_end = at;
            const unsigned first = in[at], type = in[at + 1];
            std::string sysex;
            if (first < 0xF0) {
                running = first >= 0x80 ? in[at++] : running;
                at += dataBytes(running);
                trace += kChannel[(running >> 4) - 8] + "\n";
            } else {
                at += first == 0xFF ? 2 : 1;
                const std::size_t size = readVarlen(in, at);
                const std::string text(in.begin() + at, in.begin() + at + size);
                at += size;
                char line[40];
                std::snprintf(line, sizeof line, first == 0xFF ? "ME %02X, size=%zu\n" : "SysEx\n",
                              type, size);
                trace += line;
                const auto found = kCommands.find(text.substr(0, 8));
                if (first == 0xFF && (type == 0x01 || type == 0x05) && found != kCommands.end()) {
                    trace += "COM " + found->second.substr(0, 6) + "\n";
                    sysex = found->second.substr(7) + " ";
                    for (std::size_t i = 8; found->second[0] == 'A' && i < size; ++i)
                        sysex += pair((text[i] & 0xF0) >> 4) + pair(text[i] & 0x0F);
                    sysex = "F0 " + varlen(sysex.size() / 3 + 5) + "00 48 05 7F " + sysex + "F7 ";
                }
            }
            events += listing(in, start, sysex.empty() ? at : delta_end) + sysex;
        }
    }
    return {song(tracks), trace};
}

// Six shards of fifty files, so that a failure ends a mutation run's suite early.
class Property : public testing::TestWithParam<int> {};

TEST_P(Property, RandomFilesConvertAsModelled) {
    std::mt19937 rng(20240611 + GetParam());
    for (int i = 0; i < 50 && !HasFailure(); ++i) {
        const std::string file = generate(rng);
        const auto [output, trace] = model(hex(file));
        Scratch scratch;
        writeFile("in.mid", hex(file));
        const Result result = run({"in.mid", "out.mid"});
        EXPECT_EQ(std::make_pair(result.out, result.status), std::make_pair(trace, 0)) << file;
        EXPECT_EQ(snapshot()["out.mid"], entry({}, "out.mid", hex(output))) << file;
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, Property, testing::Range(0, 6));

}  // namespace
