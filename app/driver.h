// The commands: `wav2ima IN.wav OUT` converts IN to a bare IMA ADPCM stream
// in OUT; `ima2wav IN OUT.wav` turns such a stream back into a WAV file. The
// only module that opens files, prints or picks an exit status.
#ifndef WAV2IMA_APP_DRIVER_H
#define WAV2IMA_APP_DRIVER_H

namespace wav2ima {

// Runs one conversion with argv[1] as input and argv[2] as output (further
// arguments are ignored, absent ones are null names). Prints "converting %s\n"
// on stdout before the walk, "can not open %s\n" or "convert error\n" on
// stderr on failure; no message goes into the output's own file (then the
// announcement moves to stderr, or is not printed). Returns the exit status:
// 0 on success, 1 on any failure.
int run(int argc, char** argv);

// The same for ima2wav: argv[1] a stream written by wav2ima, argv[2] the WAV
// to write; the same messages, checks and exit status.
int run_ima2wav(int argc, char** argv);

// imaenc [-0 ... -9] [--report] IN.wav OUT: wav2ima's conversion with codes
// chosen by search at the level given (-0: wav2ima's bytes). Says nothing on
// success (with --report, one line of how near the stream plays to the
// input); each failure is one line "imaenc: NAME: REASON" on stderr.
// Returns 0, 1 on a failed conversion, 2 for a bad option or argument count.
int run_imaenc(int argc, char** argv);

}  // namespace wav2ima

#endif  // WAV2IMA_APP_DRIVER_H
