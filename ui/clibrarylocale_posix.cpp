#include "clibrarylocale.h"

#include <clocale>
#include <initializer_list>

void SetCLibraryLocale() {
    for (const int category : {LC_CTYPE, LC_COLLATE, LC_MESSAGES, LC_MONETARY, LC_TIME}) std::setlocale(category, "");
    std::setlocale(LC_NUMERIC, "C");
}
