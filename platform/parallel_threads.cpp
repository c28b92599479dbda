// POSIX threads, also mingw-w64's on Windows. (WASI: parallel_serial.cpp.)
#include <pthread.h>

#include "platform/parallel.h"

namespace wav2ima {

namespace {

void* run_work(void* work) {
  const auto* piece = static_cast<const Work*>(work);
  piece->run(piece->context);
  return nullptr;
}

}  // namespace

void run_both(const Work& first, const Work& second) {
  pthread_t thread;
  Work second_copy = second;
  if (pthread_create(&thread, nullptr, run_work, &second_copy) != 0) {
    first.run(first.context);
    second.run(second.context);
    return;
  }
  first.run(first.context);
  (void)pthread_join(thread, nullptr);
}

}  // namespace wav2ima
