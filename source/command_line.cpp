#include "command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <tuple>
#include <vector>

#include "case_folding.h"
#include "lyric2sysex.h"
#include "platform.h"
#include "terminal_text.h"
#include "windows/explorer.h"

namespace {

constexpr int kUsageError = 2;

constexpr std::string_view kUsage =
    "usage: lyric2sysex [-q] [-f] input.mid output.mid\n"
    "       lyric2sysex [-q] [-f] -o DIR input.mid...\n"
    "       lyric2sysex --list input.mid\n"
    "       lyric2sysex -h | --help | --version\n"
    "Copies a Standard MIDI File, replacing the lyric commands in its Text and Lyric events\n"
    "($ADD_UP$ $ADD_HI$ $ADD_LO$ $DEL_UL$ $DEL_HL$ $DEL_UP$ $DEL_HI$ $DEL_LO$) by SysEx events,\n"
    "and prints a line for every event and every command. See lyric2sysex(1).\n"
    "  -q, --quiet             print nothing but the reason of a failure\n"
    "  -o, --output-dir DIR    convert each input to DIR/<its file name>\n"
    "  -f, --force             replace an output even if it holds lyric commands (a song)\n"
    "      --list              print the lyric commands (track, ticks, command, text)\n"
    "                          instead of converting\n";

struct Arguments {
    bool quiet;
    bool force;
    bool list;
    const char* output_dir;
    char** paths;  // the arguments that are not options, gathered at the front of argv
    int path_count;
};

// Room for the output path of a folder conversion: the folder, "/" and the input's name.
char output_path[8192];

void printPiece(const char* text, std::size_t size) {
    platformWriteText(stdout, text, size);
}

void print(std::string_view text) {
    printPiece(text.data(), text.size());
}

// A failed write, the flush's own or an earlier one, leaves the stream's error indicator set.
int exitAfterPrinting(int status) {
    std::fflush(stdout);
    return std::ferror(stdout) == 0 ? status : EXIT_FAILURE;
}

// The paths come from outside: they are printed as a terminal may show them.
int usageError(std::string_view message, const char* path = "", std::string_view more = "",
               const char* other_path = "") {
    print(message);
    putTerminalName(printPiece, path);
    print(more);
    putTerminalName(printPiece, other_path);
    print("\n");
    print(kUsage);
    return exitAfterPrinting(kUsageError);
}

bool isOption(const char* argument, const char* short_name, const char* long_name) {
    return std::strcmp(argument, short_name) == 0 || std::strcmp(argument, long_name) == 0;
}

// DIR, one separator and the input's file name; false when that does not fit. DIR is a directory,
// so never empty.
bool makeOutputPath(const char* output_dir, const char* input) {
    const bool has_separator = platformIsPathSeparator(output_dir[std::strlen(output_dir) - 1]);
    const int written = std::snprintf(output_path, sizeof output_path, "%s%s%s", output_dir,
                                      has_separator ? "" : "/", platformFileName(input));
    // A failure's negative result becomes a size too large as well.
    return static_cast<std::size_t>(written) < sizeof output_path;
}

// Whether a link or a file that another user planted in a shared folder stands at the path.
bool isPlanted(const char* path) {
    return !platformMayWrite(path) &&
           (errno == REASON_LINK_OF_ANOTHER_USER || errno == REASON_FILE_OF_ANOTHER_USER);
}

// The folder as a path whose last component is the folder's own name, which may be a link.
bool isPlantedFolder(const char* output_dir) {
    static char folder[sizeof output_path];
    std::snprintf(folder, sizeof folder, "%s", output_dir);
    for (std::size_t end = std::strlen(folder); end > 1 && platformIsPathSeparator(folder[end - 1]);
         --end) {
        folder[end - 1] = '\0';
    }
    return isPlanted(folder);
}

// The inputs' file names in their order, names equal but for letter case side by side. The
// checks of a folder conversion hold every input at once, and their number has no bound: the one
// place where the program allocates.
std::vector<const char*> namesInOrder(const Arguments& arguments) {
    std::vector<const char*> names(static_cast<std::size_t>(arguments.path_count));
    std::transform(arguments.paths, arguments.paths + arguments.path_count, names.begin(),
                   platformFileName);
    std::stable_sort(names.begin(), names.end(),
                     [](const char* a, const char* b) { return compareFoldedNames(a, b) < 0; });
    return names;
}

int refuseNamesAlike(const Arguments& arguments) {
    const std::vector<const char*> names = namesInOrder(arguments);
    for (std::size_t i = 1; i < names.size(); ++i) {
        if (compareFoldedNames(names[i - 1], names[i]) == 0) {
            return std::strcmp(names[i - 1], names[i]) == 0
                       ? usageError("two inputs named ", names[i])
                       : usageError("two inputs named ", names[i - 1], " and ", names[i]);
        }
    }
    return EXIT_SUCCESS;
}

// A file's identity and the input it is, ordered for a binary search.
using Known = std::tuple<std::uint64_t, std::uint64_t, int>;

std::vector<Known> inputIdentities(const Arguments& arguments) {
    std::vector<Known> inputs;
    for (int i = 0; i != arguments.path_count; ++i) {
        FileIdentity identity{};
        if (platformIdentifyPath(arguments.paths[i], &identity)) {
            inputs.emplace_back(identity.device, identity.file, i);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

// Every output of the run against every input, by file identity, and against what others may
// have planted in a shared folder.
int refuseUnsafeOutputs(const Arguments& arguments) {
    const std::vector<Known> inputs = inputIdentities(arguments);
    for (int i = 0; i < arguments.path_count; ++i) {
        if (!makeOutputPath(arguments.output_dir, arguments.paths[i])) {
            return usageError("output path too long: ", arguments.paths[i]);
        }
        FileIdentity identity{};
        const auto input = platformIdentifyPath(output_path, &identity)
                               ? std::lower_bound(inputs.begin(), inputs.end(),
                                                  Known{identity.device, identity.file, 0})
                               : inputs.end();
        if (input != inputs.end() && std::get<0>(*input) == identity.device &&
            std::get<1>(*input) == identity.file) {
            const int match = std::get<2>(*input);
            return match == i ? usageError("output would be the input itself: ", arguments.paths[i])
                              : usageError("output would be another input: ", output_path, " is ",
                                           arguments.paths[match]);
        }
        if (isPlanted(output_path)) {
            return usageError("output planted in a shared folder by another user: ", output_path);
        }
    }
    return EXIT_SUCCESS;
}

// Refuses, before anything is written, the folder conversions that could only lose a file.
int checkFolderConversion(const Arguments& arguments) {
    switch (platformPathKind(arguments.output_dir)) {
        case PATH_MISSING:
            return usageError("no such directory: ", arguments.output_dir);
        case PATH_OTHER:
            return usageError("not a directory: ", arguments.output_dir);
        case PATH_DIRECTORY:
            break;
    }
    if (isPlantedFolder(arguments.output_dir)) {
        return usageError("directory planted in a shared folder by another user: ",
                          arguments.output_dir);
    }
    const int names = refuseNamesAlike(arguments);
    return names != EXIT_SUCCESS ? names : refuseUnsafeOutputs(arguments);
}

bool writeStandardOutput(void*, const char* text, std::size_t size) {
    return platformWriteText(stdout, text, size);
}

bool writeStandardError(void*, const char* text, std::size_t size) {
    return platformWriteText(stderr, text, size);
}

// The trace goes to standard output, unless that is the output itself: then only the MIDI bytes
// go there, and a failure's message goes to standard error.
int convert(const char* input, const char* output, TraceMode mode, const Arguments& arguments) {
    const bool output_is_trace = platformIsStandardOutput(output);
    const ConversionOptions options{
        output_is_trace ? TRACE_MESSAGE : mode,
        TextSink{nullptr, output_is_trace ? writeStandardError : writeStandardOutput},
        input,
        output,
        arguments.force,
        nullptr};
    return convertFile(input, output, options).status;
}

// The files one after another; a file that fails does not stop the others.
int convertFolder(const Arguments& arguments) {
    const int checked = checkFolderConversion(arguments);
    if (checked != EXIT_SUCCESS) {
        return checked;
    }
    int status = EXIT_SUCCESS;
    for (int i = 0; i < arguments.path_count; ++i) {
        makeOutputPath(arguments.output_dir, arguments.paths[i]);
        if (convert(arguments.paths[i], output_path,
                    arguments.quiet ? TRACE_SUMMARY_FAILURES : TRACE_SUMMARY,
                    arguments) != EXIT_SUCCESS) {
            status = EXIT_FAILURE;
        }
    }
    return exitAfterPrinting(status);
}

}  // namespace

int runCommandLine(int argc, char** argv, PlatformStart start) {
    if (start.unmatched_pattern != nullptr) {
        return usageError("no file matches ", start.unmatched_pattern);
    }
    if (start.from_explorer) {
        return runFromExplorer(argc, argv);
    }
    Arguments arguments{false, false, false, nullptr, &argv[1], 0};
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (options_ended || argument[0] != '-' || argument[1] == '\0') {
            arguments.paths[arguments.path_count++] = argv[i];
        } else if (std::strcmp(argument, "--") == 0) {
            options_ended = true;
        } else if (isOption(argument, "-h", "--help")) {
            print(kUsage);
            return exitAfterPrinting(EXIT_SUCCESS);
        } else if (std::strcmp(argument, "--version") == 0) {
            print("lyric2sysex " LYRIC2SYSEX_VERSION "\n");
            return exitAfterPrinting(EXIT_SUCCESS);
        } else if (isOption(argument, "-q", "--quiet")) {
            arguments.quiet = true;
        } else if (isOption(argument, "-f", "--force")) {
            arguments.force = true;
        } else if (std::strcmp(argument, "--list") == 0) {
            arguments.list = true;
        } else if (isOption(argument, "-o", "--output-dir")) {
            if (i + 1 == argc) {
                return usageError("option ", argument, " needs a directory");
            }
            arguments.output_dir = argv[++i];
        } else {
            return usageError("unknown option ", argument);
        }
    }
    if (arguments.path_count == 0) {
        print("no input files\n");
        return exitAfterPrinting(kUsageError);
    }
    // The trace gathers its lines in blocks already; a second buffer would only copy them again.
    std::setbuf(stdout, nullptr);
    if (arguments.list) {
        if (arguments.path_count > 1 || arguments.output_dir != nullptr) {
            return usageError("--list takes one input and writes no file");
        }
        // A listing's lines name no file.
        const ConversionOptions options{TRACE_LIST,      TextSink{nullptr, writeStandardOutput},
                                        nullptr,         nullptr,
                                        arguments.force, nullptr};
        return listFile(arguments.paths[0], options).status;
    }
    if (arguments.output_dir != nullptr) {
        return convertFolder(arguments);
    }
    if (arguments.path_count == 1) {
        print("no output files\n");
        return exitAfterPrinting(kUsageError);
    }
    if (arguments.path_count > 2) {
        return usageError("too many arguments");
    }
    return convert(arguments.paths[0], arguments.paths[1],
                   arguments.quiet ? TRACE_QUIET : TRACE_EVENTS, arguments);
}
