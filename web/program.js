// Runs lyric2sysex once, in a fresh instance of its WebAssembly module: the program keeps its
// state in globals and ends a failed run at once, so an instance serves one run only. The page
// and the tests' node wrapper both run it through here.
//
// Standard output goes to a device that keeps the blocks written to it: the module's own
// terminal would make the program write its trace line by line.
// prepare(FS) puts the files in place before main runs. Resolves to the exit status, the blocks
// of standard output and the instance's file system.
async function runLyric2sysex(factory, args, prepare) {
  const stdout = [];
  const instance = await factory({
    // The program's exit ends its run, not the page or node.
    quit: (status, thrown) => {
      throw thrown;
    },
    preRun: [
      ({ FS }) => {
        const device = FS.makedev(64, 0);
        FS.registerDevice(device, {
          open() {},
          close() {},
          write(stream, buffer, offset, length) {
            stdout.push(new Uint8Array(buffer.slice(offset, offset + length).buffer));
            return length;
          },
        });
        FS.mkdev("/dev/gathered", device);
        // Past 1 MiB the in-memory file system grows a file by an eighth at a time, copying it
        // whole each time; doubling instead keeps the copies of a large output few.
        const { MEMFS } = FS.filesystems;
        const expand = MEMFS.expandFileStorage;
        MEMFS.expandFileStorage = (node, capacity) => {
          const current = node.contents ? node.contents.length : 0;
          expand(node, capacity > current ? Math.max(capacity, 2 * current) : capacity);
        };
        FS.init();
        FS.close(FS.getStream(1));
        FS.open("/dev/gathered", 1); // write-only; takes the free descriptor 1
        prepare(FS);
      },
    ],
  });
  // The usual umask of a process started by a shell; the module's own would make every new file
  // unreadable.
  instance._umask(0o022);
  const status = instance.callMain(args);
  return { status, stdout, FS: instance.FS };
}

if (typeof module === "object") {
  module.exports = runLyric2sysex;
}
