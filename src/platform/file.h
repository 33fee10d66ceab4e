// An open file descriptor owned by one object, closed when it goes.
#pragma once

#include <string>
#include <string_view>

#include "src/result.h"

namespace velt::platform {

class File {
 public:
  // Creates or truncates `path` for writing, with permissions rw-rw-rw- before the umask.
  static IoResult<File> create(const std::string& path);

  File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  File& operator=(File&& o) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  IoResult<void> write_all(std::string_view bytes);

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace velt::platform
