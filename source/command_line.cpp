#include "command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "midi_struct.h"
#include "platform.h"
#include "trace.h"

namespace {

constexpr int kUsageError = 2;

constexpr std::string_view kUsage =
    "usage: lyric2sysex [-q] input.mid output.mid\n"
    "       lyric2sysex [-q] -o DIR input.mid...\n"
    "       lyric2sysex --list input.mid\n"
    "       lyric2sysex -h | --help | --version\n"
    "Copies a Standard MIDI File, replacing the lyric commands in its Text and Lyric events\n"
    "($ADD_UP$ $ADD_HI$ $ADD_LO$ $DEL_UL$ $DEL_HL$ $DEL_UP$ $DEL_HI$ $DEL_LO$) by SysEx events,\n"
    "and prints a line for every event and every command. See lyric2sysex(1).\n"
    "  -q, --quiet             print nothing but the reason of a failure\n"
    "  -o, --output-dir DIR    convert each input to DIR/<its file name>\n"
    "      --list              print the lyric commands (track, ticks, command, text)\n"
    "                          instead of converting\n";

struct Arguments {
    bool quiet;
    bool list;
    const char* output_dir;
    char** paths;  // the arguments that are not options, gathered at the front of argv
    int path_count;
};

// Room for the output path of a folder conversion: the folder, "/" and the input's name.
char output_path[8192];

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// A failed write, the flush's own or an earlier one, leaves the stream's error indicator set.
int exitAfterPrinting(int status) {
    std::fflush(stdout);
    return std::ferror(stdout) == 0 ? status : EXIT_FAILURE;
}

int usageError(std::string_view message, std::string_view detail = "", std::string_view more = "") {
    print(message);
    print(detail);
    print(more);
    print("\n");
    print(kUsage);
    return exitAfterPrinting(kUsageError);
}

bool isOption(const char* argument, const char* short_name, const char* long_name) {
    return std::strcmp(argument, short_name) == 0 || std::strcmp(argument, long_name) == 0;
}

const char* fileName(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (platformIsPathSeparator(*c)) {
            name = c + 1;
        }
    }
    return name;
}

// DIR, one separator and the input's file name; false when that does not fit. DIR is a directory,
// so never empty.
bool makeOutputPath(const char* output_dir, const char* input) {
    const bool has_separator = platformIsPathSeparator(output_dir[std::strlen(output_dir) - 1]);
    const int written = std::snprintf(output_path, sizeof output_path, "%s%s%s", output_dir,
                                      has_separator ? "" : "/", fileName(input));
    // A failure's negative result becomes a size too large as well.
    return static_cast<std::size_t>(written) < sizeof output_path;
}

bool isSameFile(const char* a, const char* b) {
    FileIdentity identity;
    std::FILE* file = platformOpenInput(a, &identity);
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return platformIsSameFile(b, identity);
}

// Refuses, before anything is written, the folder conversions that could only lose a file.
int checkFolderConversion(const Arguments& arguments) {
    if (!platformIsDirectory(arguments.output_dir)) {
        return usageError("not a directory: ", arguments.output_dir);
    }
    for (int i = 0; i < arguments.path_count; ++i) {
        const char* name = fileName(arguments.paths[i]);
        for (int j = 0; j < i; ++j) {
            if (std::strcmp(name, fileName(arguments.paths[j])) == 0) {
                return usageError("two inputs named ", name);
            }
        }
        if (!makeOutputPath(arguments.output_dir, arguments.paths[i])) {
            return usageError("output path too long: ", arguments.paths[i]);
        }
        if (isSameFile(arguments.paths[i], output_path)) {
            return usageError("output would be the input itself: ", arguments.paths[i]);
        }
    }
    return EXIT_SUCCESS;
}

int convertIntoFolder(const char* output_dir, const char* input, bool quiet) {
    makeOutputPath(output_dir, input);
    setUpTrace(quiet ? TRACE_SUMMARY_FAILURES : TRACE_SUMMARY);
    trace.input_name = input;
    trace.output_name = output_path;
    return convertFile(input, output_path);
}

// The arguments of a process that converts one input of a folder: "[-q] -o DIR -- input" after
// the program's name; six of them with -q.
int convertApart(int argc, char** argv) {
    return convertIntoFolder(argv[argc - 3], argv[argc - 1], argc == 6);
}

// Each file is converted by a process of its own, which prints its own line: a conversion ends
// the process that runs it when it fails.
int convertFolder(const Arguments& arguments, char* program) {
    const int checked = checkFolderConversion(arguments);
    if (checked != EXIT_SUCCESS) {
        return checked;
    }
    // One input is converted here: where the process for each input of a folder is this program
    // started anew, that process must not start another.
    if (arguments.path_count == 1) {
        return convertIntoFolder(arguments.output_dir, arguments.paths[0], arguments.quiet);
    }
    char quiet[] = "-q";
    char output_option[] = "-o";
    char end_of_options[] = "--";
    char* const dir = const_cast<char*>(arguments.output_dir);
    char* quiet_child[] = {program, quiet, output_option, dir, end_of_options, nullptr, nullptr};
    char* child[] = {program, output_option, dir, end_of_options, nullptr, nullptr};
    char** const child_argv = arguments.quiet ? quiet_child : child;
    const int child_argc = arguments.quiet ? 6 : 5;
    int status = EXIT_SUCCESS;
    for (int i = 0; i < arguments.path_count; ++i) {
        child_argv[child_argc - 1] = arguments.paths[i];
        if (std::fflush(stdout) != 0) {
            return EXIT_FAILURE;
        }
        const int result = platformRunApart(convertApart, child_argc, child_argv);
        if (result != EXIT_SUCCESS) {
            status = EXIT_FAILURE;
        }
        // A process that printed its reason ended with EXIT_FAILURE; any other end has none.
        if (result != EXIT_SUCCESS && result != EXIT_FAILURE) {
            std::printf("%s: conversion did not finish\n", arguments.paths[i]);
        }
    }
    return exitAfterPrinting(status);
}

}  // namespace

int runCommandLine(int argc, char** argv) {
    Arguments arguments{false, false, nullptr, argv + 1, 0};
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
    if (arguments.list) {
        if (arguments.path_count > 1 || arguments.output_dir != nullptr) {
            return usageError("--list takes one input and writes no file");
        }
        setUpTrace(TRACE_LIST);
        return listFile(arguments.paths[0]);
    }
    if (arguments.output_dir != nullptr) {
        return convertFolder(arguments, argv[0]);
    }
    if (arguments.path_count == 1) {
        print("no output files\n");
        return exitAfterPrinting(kUsageError);
    }
    if (arguments.path_count > 2) {
        return usageError("too many arguments");
    }
    setUpTrace(arguments.quiet ? TRACE_QUIET : TRACE_EVENTS);
    return convertFile(arguments.paths[0], arguments.paths[1]);
}
