// Two pieces of work at once where the system has threads: the encoder's
// search runs its two channels so. On WASI, which has none, and where a
// thread cannot be started, the two run one after the other; the results
// are the same either way.
#ifndef WAV2IMA_PLATFORM_PARALLEL_H
#define WAV2IMA_PLATFORM_PARALLEL_H

namespace wav2ima {

struct Work {
  void (*run)(void* context);
  void* context;
};

// Runs both and returns when both are done.
void run_both(const Work& first, const Work& second);

}  // namespace wav2ima

#endif  // WAV2IMA_PLATFORM_PARALLEL_H
