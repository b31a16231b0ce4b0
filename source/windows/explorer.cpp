// Started from Explorer: what musicians who have never used a command prompt see.
#include "explorer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "../lyric2sysex.h"
#include "../platform.h"
#include "../terminal_text.h"

namespace {

// A console window is 80 columns wide at least.
constexpr std::string_view kWelcome =
    "lyric2sysex makes the lyrics of MIDI songs show on the display of your\n"
    "instrument: it turns the lyric commands in a song ($ADD_UP$, $ADD_LO$,\n"
    "$DEL_UL$, ...) into the messages (SysEx) that the instrument understands.\n"
    "\n"
    "The easy way: open lyric2sysex.html in your browser. It is in this folder,\n"
    "next to lyric2sysex.exe, and works without the internet.\n"
    "\n"
    "Or drop songs onto lyric2sysex.exe: song.mid is converted into\n"
    "song-sysex.mid next to it, and song.mid stays as it is.\n"
    "\n"
    "In a command prompt: lyric2sysex.exe -o converted songs\\*.mid\n"
    "README.txt and lyric2sysex.txt tell more.\n";

constexpr std::string_view kPressKey = "\nPress any key to close this window.\n";

// Room for the output path: the input's and "-sysex". A UTF-16 unit takes at most three bytes.
char output_path[3 * 32768 + sizeof "-sysex"];

void show(std::string_view text) {
    platformWriteText(stdout, text.data(), text.size());
}

// A line goes to the console in one write, as the trace's lines do: names come a character at a
// time, each at most an escape of four bytes.
struct Line {
    char text[1024];
    std::size_t used;
} line;

void appendPiece(const char* text, std::size_t size) {
    if (line.used + size > sizeof line.text) {
        show(std::string_view(line.text, line.used));
        line.used = 0;
    }
    std::memcpy(line.text + line.used, text, size);
    line.used += size;
}

void append(std::string_view text) {
    appendPiece(text.data(), text.size());
}

bool writeTrace(void*, const char* text, std::size_t size) {
    return platformWriteText(stdout, text, size);
}

// Named as the page names its downloads: song.mid becomes song-sysex.mid, song song-sysex.
bool makeOutputPath(const char* path) {
    const char* dot = std::strrchr(platformFileName(path), '.');
    const std::size_t stem_length = dot != nullptr && dot != platformFileName(path)
                                        ? static_cast<std::size_t>(dot - path)
                                        : std::strlen(path);
    const int written = std::snprintf(output_path, sizeof output_path, "%.*s-sysex%s",
                                      static_cast<int>(stem_length), path, path + stem_length);
    return written > 0 && static_cast<std::size_t>(written) < sizeof output_path;
}

// A line as a folder conversion's failures read: the input's name first.
int refuse(const char* path, std::string_view why, const char* other_path = "",
           std::string_view more = "") {
    putTerminalName(appendPiece, platformFileName(path));
    append(why);
    putTerminalName(appendPiece, platformFileName(other_path));
    append(more);
    show(std::string_view(line.text, line.used));
    line.used = 0;
    return EXIT_FAILURE;
}

int convertDropped(const char* path) {
    if (platformPathKind(path) == PATH_DIRECTORY) {
        return refuse(path, ": a folder; drop the songs in it instead\n");
    }
    if (!makeOutputPath(path)) {
        return refuse(path, ": the name is too long\n");
    }
    if (platformPathKind(output_path) != PATH_MISSING) {
        return refuse(path, ": ", output_path, " is there already and is not replaced\n");
    }
    const ConversionOptions options{TRACE_SUMMARY,
                                    TextSink{nullptr, writeTrace},
                                    platformFileName(path),
                                    platformFileName(output_path),
                                    false,
                                    nullptr};
    return convertFile(path, output_path, options).status;
}

}  // namespace

int runFromExplorer(int argc, char** argv) {
    int status = EXIT_SUCCESS;
    if (argc < 2) {
        show(kWelcome);
    }
    for (int i = 1; i < argc; ++i) {
        if (convertDropped(argv[i]) != EXIT_SUCCESS) {
            status = EXIT_FAILURE;
        }
    }
    show(kPressKey);
    platformWaitForKey();
    return status;
}
