#pragma once

// What the POSIX bodies of the support units share (FilePosix.cpp defines
// it); nothing outside those bodies includes this.

namespace tre {

// openat(), again where a signal interrupts it; new files get 0666 less the
// umask, and no descriptor passes to a program this one starts.
int openAtRetrying(int directory, const char* name, int flags);

} // namespace tre
