// What a converted song means to a musician, from what the library reported of it: when each
// command plays (minutes and seconds, bar and beat), the two lines the instrument shows after
// it, and its text as the instrument gets it. Nothing here reads the MIDI file itself.

const DEFAULT_TEMPO = 500000; // microseconds per quarter note: 120 beats a minute
const DEFAULT_SIGNATURE = { numerator: 4, power: 2 };
// A byte order mark is a character of the text like any other: it is shown.
const UTF8 = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });
const SHIFT_JIS = new TextDecoder("shift_jis", { fatal: true });
const FALLBACKS = [
  ["Shift-JIS", (bytes) => SHIFT_JIS.decode(bytes)],
  // The Encoding Standard's "latin1" is windows-1252; this is ISO 8859-1, byte for code point.
  ["Latin-1", (bytes) => Array.from(bytes, (byte) => String.fromCharCode(byte)).join("")],
];
// Controls and format characters, bidirectional ones included, never act on what is shown.
const HIDDEN = /[\p{Cc}\p{Cf}\u2028\u2029]/gu;

export function shown(text) {
  return text.replace(HIDDEN, (character) => {
    const code = character.codePointAt(0);
    if (code < 0x20) return String.fromCharCode(0x2400 + code);
    if (code === 0x7f) return "\u2421";
    return `[U+${code.toString(16).toUpperCase().padStart(4, "0")}]`;
  });
}

// The same, for a name a file is saved under.
export const safeName = (name) => name.replace(HIDDEN, "_").replace(/[/\\]/g, "_");

const utf8 = (bytes) => UTF8.decode(bytes);

function decoded(decode, bytes) {
  try {
    return decode(bytes);
  } catch {
    return null;
  }
}

// Each text is read as UTF-8 where it is valid UTF-8; the others all in the first encoding in
// which each of them is valid. Returns the reader and the name of that encoding, if it is needed.
export function textReader(texts) {
  const others = texts.filter((bytes) => decoded(utf8, bytes) === null);
  const [fallback, decode] = FALLBACKS.find(([, decode]) =>
    others.every((bytes) => decoded(decode, bytes) !== null),
  );
  return {
    fallback: others.length ? fallback : null,
    others: others.length,
    read: (bytes) => shown(decoded(utf8, bytes) ?? decode(bytes)),
  };
}

// The last of the changes, ordered by ticks, at or before the ticks.
function lastAt(changes, ticks) {
  let low = 0;
  let high = changes.length;
  while (high - low > 1) {
    const middle = (low + high) >> 1;
    if (changes[middle].ticks <= ticks) low = middle;
    else high = middle;
  }
  return changes[low];
}

const byTicks = (events) => [...events].sort((a, b) => a.ticks - b.ticks);

// Seconds from the start at any tick. A division with its top bit set counts SMPTE frames: the
// high byte is minus the frames per second, the low byte the ticks per frame.
function clock(tempos, division) {
  if (division & 0x8000) {
    const perSecond = (256 - (division >> 8)) * (division & 0xff);
    return (ticks) => ticks / perSecond;
  }
  const changes = [{ ticks: 0, seconds: 0, tempo: DEFAULT_TEMPO }];
  for (const { ticks, tempo } of byTicks(tempos)) {
    const last = changes.at(-1);
    const seconds = last.seconds + ((ticks - last.ticks) * last.tempo) / (division * 1e6);
    changes.push({ ticks, seconds, tempo });
  }
  return (ticks) => {
    const change = lastAt(changes, ticks);
    return change.seconds + ((ticks - change.ticks) * change.tempo) / (division * 1e6);
  };
}

// Bar and beat from 1 at any tick, the beat being the time signature's note value. A signature
// that changes within a bar starts a new one. None for a file timed in SMPTE frames, or in none.
function bars(signatures, division) {
  if (division & 0x8000 || division === 0) return () => null;
  const segment = ({ numerator, power }, ticks, bar) => ({
    ticks,
    bar,
    numerator: Math.max(numerator, 1),
    beat: (division * 4) / 2 ** power,
  });
  const changes = [segment(DEFAULT_SIGNATURE, 0, 0)];
  for (const signature of byTicks(signatures)) {
    const last = changes.at(-1);
    const started = Math.ceil((signature.ticks - last.ticks) / last.beat / last.numerator - 1e-9);
    changes.push(segment(signature, signature.ticks, last.bar + started));
  }
  return (ticks) => {
    const change = lastAt(changes, ticks);
    const beats = Math.floor((ticks - change.ticks) / change.beat + 1e-9);
    return {
      bar: change.bar + Math.floor(beats / change.numerator) + 1,
      beat: (beats % change.numerator) + 1,
    };
  };
}

function minutes(seconds) {
  if (!Number.isFinite(seconds)) return "–";
  const hundredths = Math.round(seconds * 100);
  const rest = ((hundredths % 6000) / 100).toFixed(2).padStart(5, "0");
  return `${Math.floor(hundredths / 6000)}:${rest}`;
}

// The songs of a file: its tracks played together, or in format 2 each track on its own. Each
// has its commands and near misses in time order, and the time of each.
export function songsOf(report) {
  const tracks =
    report.format === 2
      ? [...new Set([...report.commands, ...report.nearMisses].map((event) => event.track))]
      : [null];
  return tracks
    .sort((a, b) => a - b)
    .map((track) => {
      const ours = (event) => track === null || event.track === track;
      const time = clock(report.tempos.filter(ours), report.division);
      const bar = bars(report.signatures.filter(ours), report.division);
      const timed = (events) =>
        byTicks(events.filter(ours)).map((event) => ({
          ...event,
          time: minutes(time(event.ticks)),
          bar: bar(event.ticks),
        }));
      return { track, commands: timed(report.commands), nearMisses: timed(report.nearMisses) };
    });
}

// The two lines after each command.
export function steps(commands, read) {
  let upper = "";
  let lower = "";
  return commands.map((command) => {
    const text = read(command.text);
    if (command.command === 0) upper = text;
    if (command.command === 1) lower = text;
    if (command.command === 2 || command.command === 3) upper = "";
    if (command.command === 2 || command.command === 4) lower = "";
    return { ...command, upper, lower };
  });
}
