#include "src/platform/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "src/platform/stdio.h"

namespace velt::platform {

IoResult<File> File::create(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Err{last_os_error()};
  return File(fd);
}

File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

IoResult<void> File::write_all(std::string_view bytes) { return write_all_to(fd_, bytes); }

}  // namespace velt::platform
