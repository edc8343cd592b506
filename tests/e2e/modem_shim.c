/* Modem lines for a pseudo-terminal, preloaded (LD_PRELOAD) into a program that talks
 * to korvane-sim. A pty has no RTS or DTR; this library keeps both for the process
 * and reports each change, as "RTS 1", "DTR 0", ... and the time of the change on
 * CLOCK_MONOTONIC in nanoseconds, in a datagram to the socket named
 * by KORVANE_SIM_LINES. It takes TIOCMBIS, TIOCMBIC, TIOCMSET and TIOCMGET on pty
 * slaves only, and TIOCGSERIAL and TIOCSSERIAL, which it answers as a USB adapter's
 * driver would, forwarding the low-latency flag as "LOWLAT 1" or "LOWLAT 0"; every
 * other call goes to the real ioctl. Without KORVANE_SIM_LINES it changes nothing.
 *
 * For a program that talks to several chips at once, KORVANE_SIM_LINES may instead map
 * each pty to its chip's socket: "/dev/pts/3=/tmp/a.lines:/dev/pts/4=/tmp/b.lines".
 * Each pty then keeps its own lines; a pty not in the map is left to the real ioctl.
 *
 * Plain C without sanitizers, so that it loads into any program. Builds 64-bit and
 * 32-bit: Debian's 32-bit glibc also exports __ioctl_time64, which programs built
 * with 64-bit time (such as Wine) call in place of ioctl; both are wrapped. */
#define _GNU_SOURCE
/* The plain declaration of ioctl, even where the build asks for 64-bit time: the
 * header would otherwise rename ioctl to __ioctl_time64, which is defined below. */
#undef _TIME_BITS
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <linux/serial.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_function)(int, unsigned long, ...);

int __ioctl_time64(int fd, unsigned long request, ...);

/* Linux's Unix 98 pty slaves: majors 136 to 143. */
enum { kPtySlaveMajorFirst = 136, kPtySlaveMajorLast = 143 };

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
/* TIOCM_RTS and TIOCM_DTR as the process set them on each pty; both clear at first. */
enum { kMaxPtys = 64 };
struct pty_state {
  dev_t device;
  int lines;
  int serial_flags; /* ASYNC_LOW_LATENCY as TIOCSSERIAL left it */
};
static struct pty_state pty_states[kMaxPtys];
static int ptys_known;
static int socket_fd = -1;

/* What the process set on the pty with this device number (a new entry, all clear, at
 * first); NULL when too many ptys are known. */
static struct pty_state* state_of(dev_t device) {
  int i;
  for (i = 0; i < ptys_known; ++i) {
    if (pty_states[i].device == device) return &pty_states[i];
  }
  if (ptys_known == kMaxPtys) return NULL;
  pty_states[ptys_known].device = device;
  pty_states[ptys_known].lines = 0;
  pty_states[ptys_known].serial_flags = 0;
  return &pty_states[ptys_known++];
}

/* The socket for the pty: the setting itself, or the pty's entry in a map; copied into
 * path (size bytes). 0 when there is none. */
static int socket_for(const char* setting, dev_t device, char* path, size_t size) {
  char name[32];
  size_t name_length;
  const char* entry = setting;
  if (strchr(setting, '=') == NULL) {
    if (strlen(setting) >= size) return 0;
    strcpy(path, setting);
    return 1;
  }
  snprintf(name, sizeof name, "/dev/pts/%u",
           (major(device) - kPtySlaveMajorFirst) * 256u + minor(device));
  name_length = strlen(name);
  while (entry != NULL && *entry != '\0') {
    const char* end = strchr(entry, ':');
    size_t length = end != NULL ? (size_t)(end - entry) : strlen(entry);
    if (length > name_length + 1 && strncmp(entry, name, name_length) == 0 &&
        entry[name_length] == '=') {
      length -= name_length + 1;
      if (length >= size) return 0;
      memcpy(path, entry + name_length + 1, length);
      path[length] = '\0';
      return 1;
    }
    entry = end != NULL ? end + 1 : NULL;
  }
  return 0;
}

static pthread_once_t resolved = PTHREAD_ONCE_INIT;
static ioctl_function real_ioctl;
static ioctl_function real_ioctl_time64; /* null where the C library has none */

static ioctl_function resolve(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  ioctl_function function = NULL;
  if (symbol != NULL) memcpy(&function, &symbol, sizeof function);
  return function;
}

static void resolve_all(void) {
  real_ioctl = resolve("ioctl");
  real_ioctl_time64 = resolve("__ioctl_time64");
}

static int is_modem_request(unsigned long request) {
  return request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET || request == TIOCMGET;
}

/* TIOCGSERIAL and TIOCSSERIAL: a pty has none; the shim answers for it as a USB
 * adapter's driver would, and forwards the low-latency flag as "LOWLAT 1" or "LOWLAT 0". */
static int is_serial_request(unsigned long request) {
  return request == TIOCGSERIAL || request == TIOCSSERIAL;
}

/* The device number of a pty slave, or 0 for anything else. */
static dev_t pty_slave(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return 0;
  if (major(info.st_rdev) < kPtySlaveMajorFirst || major(info.st_rdev) > kPtySlaveMajorLast)
    return 0;
  return info.st_rdev;
}

/* Sends "NAME 0" or "NAME 1" and the CLOCK_MONOTONIC time in nanoseconds to the socket;
 * 0 on success. Called with the lock held. */
static int report(const char* path, const char* name, int on) {
  struct sockaddr_un address;
  char message[48];
  struct timespec now;
  int length;
  size_t path_length = strlen(path);
  if (path_length >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path, path_length + 1);
  if (socket_fd < 0) socket_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_fd < 0) return -1;
  clock_gettime(CLOCK_MONOTONIC, &now);
  length =
      snprintf(message, sizeof message, "%s %d %llu", name, on ? 1 : 0,
               (unsigned long long)now.tv_sec * 1000000000ull + (unsigned long long)now.tv_nsec);
  if (sendto(socket_fd, message, (size_t)length, 0, (const struct sockaddr*)&address,
             sizeof address) != (ssize_t)length) {
    return -1;
  }
  return 0;
}

/* Sets the lines in `mask` to their state in `wanted` and reports each of them. */
static int change_lines(const char* path, int* state, int mask, int wanted) {
  if ((mask & TIOCM_RTS) != 0) {
    if (report(path, "RTS", wanted & TIOCM_RTS) != 0) return -1;
    *state = (*state & ~TIOCM_RTS) | (wanted & TIOCM_RTS);
  }
  if ((mask & TIOCM_DTR) != 0) {
    if (report(path, "DTR", wanted & TIOCM_DTR) != 0) return -1;
    *state = (*state & ~TIOCM_DTR) | (wanted & TIOCM_DTR);
  }
  return 0;
}

static int modem_lines(const char* path, dev_t device, unsigned long request, int* value) {
  const int lines = TIOCM_RTS | TIOCM_DTR;
  int result = 0;
  struct pty_state* pty;
  int* state;
  if (value == NULL) {
    errno = EFAULT;
    return -1;
  }
  pthread_mutex_lock(&lock);
  pty = state_of(device);
  state = pty != NULL ? &pty->lines : NULL;
  if (state == NULL) {
    result = -1;
  } else if (request == TIOCMGET) {
    *value = *state;
  } else if (request == TIOCMBIS) {
    result = change_lines(path, state, *value & lines, lines);
  } else if (request == TIOCMBIC) {
    result = change_lines(path, state, *value & lines, 0);
  } else {
    result = change_lines(path, state, lines, *value);
  }
  pthread_mutex_unlock(&lock);
  if (result != 0) errno = EIO; /* the line change did not reach the chip */
  return result;
}

static int serial_settings(const char* path, dev_t device, unsigned long request,
                           struct serial_struct* serial) {
  int result = 0;
  struct pty_state* pty;
  int* flags;
  if (serial == NULL) {
    errno = EFAULT;
    return -1;
  }
  pthread_mutex_lock(&lock);
  pty = state_of(device);
  flags = pty != NULL ? &pty->serial_flags : NULL;
  if (flags == NULL) {
    result = -1;
  } else if (request == TIOCGSERIAL) {
    memset(serial, 0, sizeof *serial);
    serial->type = PORT_16550A;
    serial->flags = *flags;
  } else {
    *flags = serial->flags & (int)ASYNC_LOW_LATENCY;
    result = report(path, "LOWLAT", *flags != 0);
  }
  pthread_mutex_unlock(&lock);
  if (result != 0) errno = EIO;
  return result;
}

static int wrapped(ioctl_function real, int fd, unsigned long request, void* argument) {
  const char* setting = getenv("KORVANE_SIM_LINES");
  if ((is_modem_request(request) || is_serial_request(request)) && setting != NULL &&
      *setting != '\0') {
    const dev_t device = pty_slave(fd);
    char path[sizeof(((struct sockaddr_un*)0)->sun_path)];
    if (device != 0 && socket_for(setting, device, path, sizeof path)) {
      if (is_serial_request(request))
        return serial_settings(path, device, request, (struct serial_struct*)argument);
      return modem_lines(path, device, request, (int*)argument);
    }
  }
  if (real == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return real(fd, request, argument);
}

/* The third argument is an int or a pointer; both travel in one word, as in the kernel. */
int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  void* argument;
  va_start(arguments, request);
  argument = va_arg(arguments, void*);
  va_end(arguments);
  pthread_once(&resolved, resolve_all);
  return wrapped(real_ioctl, fd, request, argument);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list arguments;
  void* argument;
  va_start(arguments, request);
  argument = va_arg(arguments, void*);
  va_end(arguments);
  pthread_once(&resolved, resolve_all);
  return wrapped(real_ioctl_time64 != NULL ? real_ioctl_time64 : real_ioctl, fd, request, argument);
}
