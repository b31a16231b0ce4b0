#include "smf_reader.h"

#include <cstdio>

namespace smf {

namespace {

std::string hex8(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string at(std::size_t offset) {
    char text[32];
    std::snprintf(text, sizeof text, " at offset %zu", offset);
    return text;
}

// Reads the file front to back; the first violation is kept and every later read fails.
class Reader {
   public:
    Reader(const ByteVector& bytes, const Options& options) : bytes_(bytes), options_(options) {}

    ParseResult run() {
        ParseResult result;
        readFile(result.file);
        result.error = error_;
        return result;
    }

   private:
    bool fail(const std::string& message, std::size_t offset) {
        if (error_.empty())
            error_ = message + at(offset);
        return false;
    }

    bool byte(std::size_t end, std::uint8_t& value, const char* what) {
        if (pos_ >= end) {
            return fail(std::string("data ends while reading ") + what, pos_);
        }
        value = bytes_[pos_++];
        return true;
    }

    bool u16(std::uint16_t& value, const char* what) {
        std::uint8_t high = 0, low = 0;
        if (!byte(bytes_.size(), high, what) || !byte(bytes_.size(), low, what))
            return false;
        value = static_cast<std::uint16_t>(high << 8 | low);
        return true;
    }

    bool u32(std::uint32_t& value, const char* what) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b = 0;
            if (!byte(bytes_.size(), b, what))
                return false;
            value = value << 8 | b;
        }
        return true;
    }

    bool tag(const char* expected) {
        const std::size_t start = pos_;
        std::string seen;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b = 0;
            if (!byte(bytes_.size(), b, "chunk tag"))
                return false;
            seen += static_cast<char>(b);
        }
        if (seen != expected) {
            std::string shown;
            for (const char c : seen)
                shown += hex8(static_cast<unsigned char>(c)) + " ";
            return fail(std::string("chunk tag ") + shown + "is not " + expected, start);
        }
        return true;
    }

    // At most four bytes; the fourth must end the number.
    bool varlen(std::size_t end, std::uint32_t& value, const char* what) {
        const std::size_t start = pos_;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b = 0;
            if (!byte(end, b, what))
                return false;
            value = value << 7 | (b & 0x7Fu);
            if ((b & 0x80) == 0)
                return true;
        }
        return fail(std::string("variable-length ") + what + " longer than four bytes", start);
    }

    void readFile(File& file) {
        if (!tag("MThd"))
            return;
        std::uint32_t header_length = 0;
        if (!u32(header_length, "header length"))
            return;
        if (header_length != 6) {
            fail("header length " + std::to_string(header_length) + " is not 6", 4);
            return;
        }
        if (!u16(file.format, "format") || !u16(file.track_count, "track count") ||
            !u16(file.division, "division")) {
            return;
        }
        if (file.format > 2) {
            fail("format " + std::to_string(file.format) + " is not 0, 1 or 2", 8);
            return;
        }
        if (file.track_count == 0) {
            fail("no track declared", 10);
            return;
        }
        if (file.format == 0 && file.track_count != 1) {
            fail("format 0 with " + std::to_string(file.track_count) + " tracks", 10);
            return;
        }
        for (unsigned i = 0; i < file.track_count; ++i) {
            Track track;
            if (!readTrack(i, track))
                return;
            file.tracks.push_back(std::move(track));
        }
        if (pos_ != bytes_.size()) {
            fail(std::to_string(bytes_.size() - pos_) + " bytes after the last declared track",
                 pos_);
        }
    }

    bool readTrack(unsigned index, Track& track) {
        track.offset = pos_;
        if (!tag("MTrk") || !u32(track.length_field, "track length"))
            return false;
        if (track.length_field > bytes_.size() - pos_) {
            return fail("track " + std::to_string(index) + " length " +
                            std::to_string(track.length_field) + " runs past the end of the file",
                        track.offset + 4);
        }
        const std::size_t end = pos_ + track.length_field;
        if (!options_.running_status_across_tracks)
            running_status_ = 0;
        bool ended = false;
        while (pos_ < end) {
            if (ended)
                return fail("event after End of Track", pos_);
            Event event;
            if (!readEvent(end, event))
                return false;
            ended = event.kind == EventKind::Meta && event.meta_type == 0x2F;
            track.events.push_back(std::move(event));
        }
        if (!ended)
            return fail("track " + std::to_string(index) + " lacks End of Track", pos_);
        return true;
    }

    bool readEvent(std::size_t end, Event& event) {
        event.offset = pos_;
        if (!varlen(end, event.delta, "delta time"))
            return false;
        event.delta_size = pos_ - event.offset;
        const std::size_t status_offset = pos_;
        std::uint8_t first = 0;
        if (!byte(end, first, "event status"))
            return false;
        if (first == 0xFF) {
            if (!readMeta(end, event))
                return false;
        } else if (first == 0xF0 || first == 0xF7) {
            event.kind = EventKind::SysEx;
            event.status = first;
            if (!varlen(end, event.length, "SysEx length") || !block(end, event))
                return false;
        } else if (first >= 0xF1) {
            return fail("status " + hex8(first) + " is not allowed in a track", status_offset);
        } else {
            event.kind = EventKind::Channel;
            if (first < 0x80) {
                if (running_status_ == 0) {
                    return fail("data byte " + hex8(first) + " without a running status",
                                status_offset);
                }
                event.running_status = true;
                event.status = running_status_;
                event.data.push_back(first);
            } else {
                event.status = first;
                running_status_ = first;
            }
            while (event.data.size() < static_cast<std::size_t>(channelDataCount(event.status))) {
                const std::size_t data_offset = pos_;
                std::uint8_t b = 0;
                if (!byte(end, b, "channel data"))
                    return false;
                if (b >= 0x80) {
                    return fail("data byte " + hex8(b) + " >= 80 in a message of status " +
                                    hex8(event.status),
                                data_offset);
                }
                event.data.push_back(b);
            }
        }
        event.raw.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(event.offset),
                         bytes_.begin() + static_cast<std::ptrdiff_t>(pos_));
        return true;
    }

    bool block(std::size_t end, Event& event) {
        if (event.length > end - pos_) {
            return fail("length " + std::to_string(event.length) + " runs past the track chunk",
                        pos_);
        }
        event.data.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                          bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + event.length));
        pos_ += event.length;
        return true;
    }

    bool readMeta(std::size_t end, Event& event) {
        event.kind = EventKind::Meta;
        event.status = 0xFF;
        const std::size_t type_offset = pos_;
        if (!byte(end, event.meta_type, "meta type"))
            return false;
        if (event.meta_type >= 0x80) {
            return fail("meta type " + hex8(event.meta_type) + " >= 80", type_offset);
        }
        if (!varlen(end, event.length, "meta length") || !block(end, event))
            return false;
        // The types whose size the standard fixes.
        int fixed = -1;
        switch (event.meta_type) {
            case 0x00:
                if (event.length != 0)
                    fixed = 2;
                break;
            case 0x20:
            case 0x21:
                fixed = 1;
                break;
            case 0x2F:
                fixed = 0;
                break;
            case 0x51:
                fixed = 3;
                break;
            case 0x54:
                fixed = 5;
                break;
            case 0x58:
                fixed = 4;
                break;
            case 0x59:
                fixed = 2;
                break;
            default:
                break;
        }
        if (fixed >= 0 && event.length != static_cast<std::uint32_t>(fixed)) {
            return fail("meta " + hex8(event.meta_type) + " of length " +
                            std::to_string(event.length) + ", not " + std::to_string(fixed),
                        type_offset);
        }
        return true;
    }

    const ByteVector& bytes_;
    const Options options_;
    std::size_t pos_ = 0;
    std::uint8_t running_status_ = 0;
    std::string error_;
};

}  // namespace

int channelDataCount(std::uint8_t status) {
    const unsigned kind = status & 0xF0u;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

ParseResult parse(const ByteVector& bytes, const Options& options) {
    return Reader(bytes, options).run();
}

}  // namespace smf
