#pragma once

// The application object asked the C library for the whole locale at once,
// which fails as a whole where the Russian locale is not installed, and
// leaves every category in the C locale: characters would then be ASCII and
// the title the window system shows garbled. Each category is set on its
// own: the user's character set always, Russian dates only where the system
// has them, and C numbers, which the program's own formatting does not need.
// (clibrarylocale_posix.cpp, clibrarylocale_win.cpp)
void SetCLibraryLocale();
