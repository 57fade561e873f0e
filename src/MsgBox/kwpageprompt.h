// Messages of the installer pages: a skinned message box with an OK button,
// captioned with the language text of "prompt", and the texts of both taken
// from the language table at the moment they are shown.
//
// Tests replace the box with a recorder so a flow can run without a person
// to press OK; the recorder sees the key-resolved texts.
#pragma once

#include <functional>
#include <string>

class QWidget;

// Shows the language text of `key` under the caption "prompt" and returns
// after the user closed the box.  Runs on the user-interface thread.
void KwPagePrompt(QWidget* parent, const char* key);

// Shows fixed texts (not looked up) with a fixed caption.
void KwPageMessage(QWidget* parent, const std::string& text, const std::string& caption);

// With a recorder set, messages go to it instead of a window; an empty
// function restores the real box.
using KwPromptRecorder = std::function<void(const std::string& text, const std::string& caption)>;
void KwSetPromptRecorder(KwPromptRecorder recorder);
