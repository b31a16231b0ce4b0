// The conversion, in a worker of its own so that the page stays responsive: the module reads the
// chosen file through here in its blocks and writes the converted file back in pieces, so that
// neither ever has to sit whole in memory. The page gets back what it shows, the converted file
// and, when asked for, the trace, each a Blob of pieces.
// Lyric2sysex, the module's factory, comes before this in the worker's source.

// The commands and near misses the module reports, so that a file of millions of them stays
// light; the counts cover them all.
const KEPT = 2000;
const HEAD = 8;
const WINDOW = 8 * 1024 * 1024;

// A module that cannot start (under a policy that refuses WebAssembly, say) fails each file.
const converter = (async () => Lyric2sysex())();

// The pieces of a file being written: appended in order, except for a few bytes written again
// at an earlier offset (a track's length, once the track is complete).
function pieces() {
  const list = [];
  const starts = [];
  let end = 0;
  const patch = (offset, bytes) => {
    let index = starts.findLastIndex((start) => start <= offset);
    for (let at = 0; at < bytes.length; index++) {
      const target = list[index];
      const from = offset + at - starts[index];
      const count = Math.min(bytes.length - at, target.length - from);
      target.set(bytes.subarray(at, at + count), from);
      at += count;
    }
  };
  const write = (offset, bytes) => {
    if (offset + bytes.length > end && offset !== end) return false;
    if (offset < end) patch(offset, bytes);
    else {
      list.push(bytes);
      starts.push(end);
      end += bytes.length;
    }
    return true;
  };
  return { list, write };
}

// Reads the file in windows far larger than the library's blocks: each read of a File costs
// milliseconds, whatever its size. Two windows serve the scan and the copy that follows it; the
// first bytes are kept to say what a file that is no MIDI file starts with.
function reader(file, report) {
  const files = new FileReaderSync();
  let windows = [];
  const windowOf = (offset, end) => {
    const held = windows.find(
      (held) => held.start <= offset && end <= held.start + held.bytes.length,
    );
    if (held) return held;
    const slice = file.slice(offset, offset + Math.max(WINDOW, end - offset));
    const read = { start: offset, bytes: new Uint8Array(files.readAsArrayBuffer(slice)) };
    windows = [read, windows[0]].filter(Boolean);
    return read;
  };
  return (offset, target) => {
    try {
      const end = Math.min(offset + target.length, file.size);
      const { start, bytes } = windowOf(offset, end);
      const part = bytes.subarray(offset - start, end - start);
      target.set(part);
      if (offset === 0) report.head = part.slice(0, HEAD);
      return part.length;
    } catch {
      return -1;
    }
  };
}

// What the page shows of a song: each command and near miss the module reports, with the text
// that follows it, and every tempo and time signature.
function listener(report) {
  let texts = [];
  const keep = (list, entry) => {
    texts = [];
    list.push({ ...entry, texts });
  };
  return {
    command: (track, ticks, command) => keep(report.commands, { track, ticks, command }),
    nearMiss: (track, ticks, reason) => keep(report.nearMisses, { track, ticks, reason }),
    text: (bytes) => texts.push(bytes.slice()),
    tempo: (track, ticks, tempo) => report.tempos.push({ track, ticks, tempo }),
    timeSignature: (track, ticks, numerator, power) =>
      report.signatures.push({ track, ticks, numerator, power }),
  };
}

// An entry's text, joined from its pieces.
function texted({ texts, ...entry }) {
  const text = new Uint8Array(texts.reduce((size, piece) => size + piece.length, 0));
  texts.reduce((at, piece) => (text.set(piece, at), at + piece.length), 0);
  return { ...entry, text };
}

// The trace is asked for on its own: that conversion reports nothing else and keeps no output.
async function convert({ file, traced }) {
  const module = await converter;
  const report = { commands: [], nearMisses: [], tempos: [], signatures: [], head: null };
  const output = pieces();
  const trace = [];
  module.page = {
    ...listener(report),
    read: reader(file, report),
    write: traced ? () => true : output.write,
    trace: (text) => trace.push(text),
    result: (result) => Object.assign(report, result),
  };
  const started = performance.now();
  module._pageConvert(file.size, traced, traced ? 0 : KEPT);
  report.milliseconds = performance.now() - started;
  report.commands = report.commands.map(texted);
  report.nearMisses = report.nearMisses.map(texted);
  report.output = report.status === 0 ? new Blob(output.list, { type: "audio/midi" }) : null;
  report.trace = traced ? new Blob(trace, { type: "text/plain" }) : null;
  return report;
}

// One file at a time, in the order asked. A conversion that throws (the module could not start,
// or ran out of memory) fails that file, and the page goes on.
onmessage = async ({ data }) => {
  let report;
  try {
    report = await convert(data);
  } catch (error) {
    report = { status: 1, message: "the converter stopped", reason: String(error), track: 0 };
  }
  postMessage({ id: data.id, report });
};
