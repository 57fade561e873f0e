// The two system windows both package-making front ends open: the folder
// chooser of their "..." buttons and the "Input error" box.  Tests put a
// recorder in place of the chooser so a flow can run without a person.
#pragma once

#include <functional>
#include <string>

class QWidget;

// Title of the folder chooser: a request to choose a folder.
inline constexpr const char* kKwMakeChooseTitle = "请选择目录";

// Shows the folder chooser owned by `parent`, starting at `start`, and
// returns the chosen folder, or an empty text when cancelled.
std::string KwMakeChooseFolder(QWidget* parent, const std::string& start);

// With a chooser set, KwMakeChooseFolder asks it instead of showing a
// window; it gets the title and the start folder.  An empty function
// restores the real chooser.
using KwMakeFolderChooser =
    std::function<std::string(QWidget* parent, const std::string& title, const std::string& start)>;
void KwSetMakeFolderChooser(KwMakeFolderChooser chooser);

// The system message box "Input error: ..." naming the empty field (the
// language text of `key`) with the caption "error" and an OK button, owned
// by `parent`; returns when it was closed.
void KwMakeInputError(QWidget* parent, const char* key);
