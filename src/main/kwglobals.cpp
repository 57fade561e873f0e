#include "main/kwglobals.h"

#include <cstring>

char g_exePath[kExePathSize];
char g_exeDir[kExePathSize];
char g_programDir[kFolderSize];
char g_programDirCopy[kProgramDirCopySize];
char g_installPath[kFolderSize];
char g_dataDir[kFolderSize];
char g_logRoot[kFolderSize];
char g_actionExe[kFolderSize];
char g_targetDir[kFolderSize];

std::atomic<int32_t> g_installStage{0};
std::atomic<int32_t> g_pauseState{0};
char g_versionText[kVersionTextSize];

std::atomic<int32_t> g_threadsMayRun{1};
std::atomic<int32_t> g_makeStopFlag{0};

bool KwCopyText(char* dst, int size, const char* src) {
  if (dst == nullptr || size <= 0) return false;
  if (src == nullptr) src = "";
  size_t len = std::strlen(src);
  if (len < static_cast<size_t>(size)) {
    std::memcpy(dst, src, len + 1);
    return true;
  }
  size_t cut = static_cast<size_t>(size) - 1;
  // Step back over UTF-8 continuation bytes so no character is split.
  while (cut > 0 && (static_cast<unsigned char>(src[cut]) & 0xC0) == 0x80) --cut;
  std::memcpy(dst, src, cut);
  dst[cut] = '\0';
  return false;
}
