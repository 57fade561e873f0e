#include "MsgBox/kwpageprompt.h"

#include <mutex>

#include "app/common/ikwshowdialog.h"
#include "language/ikwlang.h"

namespace {

std::mutex g_recorderMutex;
KwPromptRecorder g_recorder;

}  // namespace

void KwSetPromptRecorder(KwPromptRecorder recorder) {
  std::lock_guard<std::mutex> lock(g_recorderMutex);
  g_recorder = std::move(recorder);
}

void KwPageMessage(QWidget* parent, const std::string& text, const std::string& caption) {
  KwPromptRecorder recorder;
  {
    std::lock_guard<std::mutex> lock(g_recorderMutex);
    recorder = g_recorder;
  }
  if (recorder) {
    recorder(text, caption);
    return;
  }
  KwShowMessage(parent, text.c_str(), caption.c_str());
}

void KwPagePrompt(QWidget* parent, const char* key) {
  IKWLang* lang = IKWLang::Instance();
  KwPageMessage(parent, lang->GetText(key), lang->GetText("prompt"));
}
