// The process's standard streams, made safe before anything else is opened.
#pragma once

namespace korvane {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so that no port
// or file opened later can take its place (a program started with "<&-" would otherwise
// read its own serial port as its input), and ignores SIGPIPE, so that a reader that
// went away (korvane-cli ... | head) shows as a failed write instead of killing the
// process before it puts the terminal and the port back; SIGXFSZ likewise, so that a
// file-size limit is a failed write that the file's own code undoes. On Windows a missing standard
// handle is never reused for a file: reading it gives the end of the input and what is
// written to it is dropped, so there is nothing to do.
void SecureStandardStreams();

}  // namespace korvane
