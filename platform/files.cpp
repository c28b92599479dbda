#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>

#include "platform/stream_io.h"
#include "platform/system.h"

namespace wav2ima {

namespace {

constexpr int kStandardDescriptors = 3;

// The number that is all of `digits`, written as the system writes it:
// decimal, no sign, no leading zero. False for anything else.
bool parse_descriptor(const char* digits, int& fd) {
  if (*digits == '\0' || (digits[0] == '0' && digits[1] != '\0')) return false;
  int value = 0;
  for (const char* at = digits; *at != '\0'; ++at) {
    if (*at < '0' || *at > '9') return false;
    const int digit = *at - '0';
    // untrusted size: no descriptor has a number above INT_MAX; tested
    // before the step that would pass it, at any width of int.
    if (value > (INT_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  fd = value;
  return true;
}

// The names bash and gawk read, each the descriptor it names.
int descriptor_named(const char* name) {
  if (name == nullptr || !descriptors_have_names()) return -1;
  const char* const standard[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
  for (int fd = 0; fd < kStandardDescriptors; ++fd) {
    if (std::strcmp(name, standard[fd]) == 0) return fd;
  }
  int fd = -1;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::size_t length = std::strlen(prefix);
    if (std::strncmp(name, prefix, length) == 0 && parse_descriptor(name + length, fd)) return fd;
  }
  return -1;
}

bool status_of(std::FILE* stream, FileStatus& status) {
  return stream != nullptr && status_of(descriptor_of(stream), status);
}

std::FILE* failed(int error) {
  errno = error;
  return nullptr;
}

}  // namespace

FileName take_name(const char* name) {
  const int descriptor = descriptor_named(name);
  return FileName{name, descriptor, descriptor >= 0 && held(descriptor)};
}

void prepare_process() {
  // Each open takes the lowest free number: while that is a standard one, it
  // was closed and now holds the null device.
  for (int fd = open_null_device(); fd >= 0; fd = open_null_device()) {
    if (fd >= kStandardDescriptors) {
      (void)close_descriptor(fd);
      break;
    }
  }
  enter_working_directory();
}

std::FILE* open_input(const FileName& file) {
  if (file.descriptor >= 0) {
    return file.given ? stream_of_descriptor(file.descriptor, "rb") : failed(EBADF);
  }
  if (file.name == nullptr || !reachable(file.name)) return failed(ENOENT);
  // The file first, the stream's memory after: a missing file is missing
  // however short of memory the program is.
  const int fd = open_input_descriptor(file.name);
  if (fd < 0) return nullptr;
  FileStatus status;
  if (status_of(fd, status) && status.kind == kDirectory) {
    (void)close_descriptor(fd);
    return failed(EISDIR);
  }
  std::FILE* input = stream_of_opened(fd, "rb");
  if (input == nullptr) {
    const int error = errno;
    (void)close_descriptor(fd);
    errno = error;
  }
  return input;
}

std::FILE* open_scratch() {
  return open_scratch_stream();
}

std::FILE* open_output(const FileName& file) {
  if (file.descriptor >= 0) {
    return file.given ? stream_of_descriptor(file.descriptor, "wb") : failed(EBADF);
  }
  if (file.name == nullptr || !reachable(file.name)) return failed(ENOENT);
  const int fd = open_output_descriptor(file.name);
  if (fd < 0) return nullptr;
  std::FILE* output = stream_of_opened(fd, "wb");
  if (output == nullptr) {
    const int error = errno;
    (void)close_descriptor(fd);
    errno = error;
  }
  return output;
}

int truncate_output(const FileName& file, std::FILE* output) {
  if (file.descriptor >= 0) return 0;
  FileStatus status;
  if (!status_of(output, status)) return -1;
  if (status.kind != kRegular) return 0;
  return truncate_descriptor(descriptor_of(output)) == 0 ? 0 : -1;
}

FileIdentity identity_of(std::FILE* stream) {
  FileStatus status;
  return status_of(stream, status) ? status.identity : FileIdentity{};
}

FileIdentity identity_of(const FileName& file) {
  FileStatus status;
  return file.given && status_of(file.descriptor, status) ? status.identity : FileIdentity{};
}

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

std::int64_t regular_file_length(std::FILE* stream) {
  FileStatus status;
  if (!status_of(stream, status) || status.kind != kRegular || !status.length_vouched) {
    return kLengthUnknown;
  }
  const std::int64_t position = tell_stream(stream);
  if (position < 0) return kLengthUnknown;
  return position < status.length ? status.length - position : 0;
}

}  // namespace wav2ima
