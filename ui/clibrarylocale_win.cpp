#include "clibrarylocale.h"

#include <clocale>
#include <initializer_list>

// The C runtime here has no LC_MESSAGES; Qt takes the system's language
// from Windows itself, not from the C library.
void SetCLibraryLocale() {
    for (const int category : {LC_CTYPE, LC_COLLATE, LC_MONETARY, LC_TIME}) std::setlocale(category, "");
    std::setlocale(LC_NUMERIC, "C");
}
