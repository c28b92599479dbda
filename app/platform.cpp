#include "app/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool status_of(int fd, struct stat& status) {
  return fd >= 0 && fstat(fd, &status) == 0;
}

bool status_of(std::FILE* stream, struct stat& status) {
  return status_of(fileno(stream), status);
}

bool same_identity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::FILE* open_input(const char* name) {
  std::FILE* input = name != nullptr ? std::fopen(name, "rb") : nullptr;
  struct stat status;
  if (input != nullptr && status_of(input, status) && S_ISDIR(status.st_mode)) {
    (void)std::fclose(input);
    return nullptr;
  }
  return input;
}

std::FILE* open_output(const char* name) {
  if (name == nullptr) return nullptr;
  const int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* output = fdopen(fd, "wb");
  if (output == nullptr) (void)close(fd);
  return output;
}

int truncate_output(std::FILE* output) {
  struct stat status;
  if (!status_of(output, status)) return -1;
  if (!S_ISREG(status.st_mode)) return 0;
  return ftruncate(fileno(output), 0) == 0 ? 0 : -1;
}

bool same_file(std::FILE* a, std::FILE* b) {
  struct stat a_status;
  struct stat b_status;
  return status_of(a, a_status) && status_of(b, b_status) && same_identity(a_status, b_status);
}

bool is_standard_output(std::FILE* stream) {
  struct stat stream_status;
  struct stat stdout_status;
  return status_of(stream, stream_status) && status_of(STDOUT_FILENO, stdout_status) &&
         same_identity(stream_status, stdout_status);
}

std::int64_t regular_file_length(std::FILE* stream) {
  struct stat status;
  if (!status_of(stream, status) || !S_ISREG(status.st_mode)) return kLengthUnknown;
  return static_cast<std::int64_t>(status.st_size);
}
