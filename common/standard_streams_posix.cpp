#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "common/standard_streams.h"

namespace korvane {

void SecureStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one: the lower ones are open by now.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
  signal(SIGPIPE, SIG_IGN);
  // A file-size limit (ulimit -f) shows as a failed write too, which the files' own code
  // undoes (a record cut back, a numbers' file left as it was), not as a kill halfway.
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace korvane
