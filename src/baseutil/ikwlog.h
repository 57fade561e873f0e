// The process-wide text log shared by all threads.
//
// Start-up configures it once (root, prefix, threshold, enabled) before any
// worker thread exists; KwLogShutdown() at the end of the stop sequence closes
// the file and disables it, after which every call returns at once; a record
// that was already under way when the shutdown came is dropped, never written
// into a reopened file.
// WriteLog never reports failure and never throws.
#pragma once

#include <cstdint>

void WriteLog(int32_t level, const char* sourceFile, const char* function, int32_t line,
              const char* format, ...) __attribute__((format(printf, 5, 6)));

// Configuration, called by start-up on the main thread.
void KwLogConfigure(const char* root, const char* prefix, int32_t threshold, int32_t enabled);
void KwLogSetThreshold(int32_t threshold);
// Stop: closes the mutex and the file, frees the buffer, disables logging.
void KwLogShutdown();

// Convenience: the caller passes the "Class::Method" name explicitly as the
// log records require it.
#define KW_LOG(level, func, ...) WriteLog((level), __FILE__, (func), __LINE__, __VA_ARGS__)
