#include "src/platform/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

IoResult<void> File::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Err{last_os_error()};
    }
    if (n == 0) return Err{IoError{0, "failed to write whole buffer"}};
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace velt::platform
