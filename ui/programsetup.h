#pragma once

class QApplication;
class QCoreApplication;

// Loads Qt's own Russian texts (standard buttons, file dialogs) whatever the
// system's language. False when they are not installed.
bool InstallRussianTranslations(QCoreApplication &app);

// What the window program sets up before its window: name, icon, translations.
void SetUpWindowProgram(QApplication &app);
