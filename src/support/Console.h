#pragma once

// The platform's console, behind one seam (bodies in the platform files).

// Whether standard output, or standard error, is a terminal (a console window).
bool standardOutputIsTerminal();
bool standardErrorIsTerminal();

// Where the process was started with standard input, output or error
// closed, puts a placeholder there that fails every write: otherwise the
// next file the tool opens would take the place of standard output, and the
// listing would be written into it.
void guardStandardStreams();
