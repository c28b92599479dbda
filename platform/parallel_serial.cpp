// WASI has no threads: one after the other. (Elsewhere: parallel_threads.cpp.)
#include "platform/parallel.h"

namespace wav2ima {

void run_both(const Work& first, const Work& second) {
  first.run(first.context);
  second.run(second.context);
}

}  // namespace wav2ima
