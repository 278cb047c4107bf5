#pragma once

class QApplication;
class QCoreApplication;

// Loads Qt's own Russian texts (standard buttons, file dialogs) whatever the
// system's language. False when they are not installed.
bool InstallRussianTranslations(QCoreApplication &app);

// Makes the dates and numbers Qt formats Russian for this process, keeping the
// user's character set; before the application object is made.
void PrepareRussianLocale();

// What the window program sets up before its window: name, icon, translations,
// the Russian locale.
void SetUpWindowProgram(QApplication &app);
