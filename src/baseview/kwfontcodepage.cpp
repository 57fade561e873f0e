// The language table's current code page as the toolkit font sees it.
// Kept in its own unit so the font does not depend on how the language
// table is reached.
#include "language/ikwlang.h"

int KwLanguageCodePage() {
  return IKWLang::Instance()->CodePage();
}
