// The application object: the single entry point of every installer
// executable.  It chooses the job of the run mode, prepares the common
// folders and settings, runs the main dialog and the stop sequence.
#pragma once

// Runs the whole program; returns the process exit status.
int KwRunApplication(int argc, char** argv);
