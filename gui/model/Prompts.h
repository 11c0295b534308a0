#pragma once
// The message boxes of the desktop program, behind an interface so the rules that raise them
// run in tests without a window. Every box has the caption "ZORVEK Antivirus".

#include <string_view>

namespace zorvek::gui {

enum class BoxIcon { Information, Warning, Error, Question };

class Prompts {
 public:
  virtual ~Prompts() = default;
  // An OK box.
  virtual void show(BoxIcon icon, std::string_view text) = 0;
  // A Yes/No box; true for Yes.
  virtual bool ask(BoxIcon icon, std::string_view text) = 0;
};

}  // namespace zorvek::gui
