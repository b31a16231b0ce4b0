// What the page says to a musician, in plain words: what each command does to the display, why
// a near miss is no command, and why a file was not converted and what to do about it.

export const COMMANDS = [
  "new upper line",
  "new lower line",
  "both lines cleared",
  "upper line cleared",
  "lower line cleared",
];
export const TECHNICAL_COMMANDS = ["ADD_UP", "ADD_LO", "DEL_UL", "DEL_UP", "DEL_LO"];
export const NEAR_MISSES = [
  "it is in lower-case letters",
  "it has blanks before the command",
  "it has no closing $",
  "it has one character different",
];

const AGAIN = "Download or export the song again.";
const FAILURES = {
  "unexpected end of file": `The file ends too early: it may be damaged or only partly downloaded. ${AGAIN}`,
  "too many tracks":
    "The file has more than 1,023 tracks, more than the converter takes. Save the song with fewer tracks.",
  "no tracks": `The file holds no tracks: there is no music in it. ${AGAIN}`,
  "file too large":
    "The file is too large: the file, and each of its tracks once converted, must stay under 4 GB. Split the song.",
  "variable-length number too long": `The file is damaged: a length or time in it is longer than MIDI allows. ${AGAIN}`,
  "track overlaps previous track": `The file is damaged: two of its tracks overlap. ${AGAIN}`,
  "text too long":
    "A lyric line in the file is too long for the instrument (over 128 MB). Shorten it.",
  "text event runs past end of track": `The file is damaged: a text runs past the end of its track. ${AGAIN}`,
  "file can't read":
    "The file could not be read: it may have been moved, changed or removed. Choose it again.",
  "the converter stopped":
    "The converter stopped on this file. Reload the page and try again; if it stops again, the file may be damaged.",
  "file can't write":
    "The converted file could not be kept: the browser may be short of memory. Close other tabs and try again.",
};

export const counted = (count, word, words = `${word}s`) =>
  `${count.toLocaleString("en")} ${count === 1 ? word : words}`;

// The first bytes of a file, as numbers and as the letters they are, if they are any.
function startOf(head) {
  const hex = Array.from(head, (byte) => byte.toString(16).toUpperCase().padStart(2, "0"));
  const letters = Array.from(head, (byte) =>
    byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte) : "·",
  );
  return `${hex.join(" ")}, “${letters.join("")}”`;
}

export function plainFailure(report, size) {
  if (size === 0) return "The file is empty: there is nothing in it. Choose the song again.";
  if (report.message === "not a MIDI file") {
    return `This is not a MIDI file (it starts with ${startOf(report.head)}). Choose a MIDI song: .mid, .midi or .kar.`;
  }
  return FAILURES[report.message] ?? "The file could not be converted: the details below say why.";
}

// A failure as the command line prints it: the message, the reason, the place.
export const technicalFailure = (report) =>
  report.message +
  (report.reason ? `: ${report.reason}` : "") +
  (report.track ? ` (track ${report.track}, byte ${report.offset})` : "");
