#pragma once

class QCoreApplication;

// Loads Qt's own Russian texts (standard buttons, file dialogs) whatever the
// system's language. False when they are not installed.
bool InstallRussianTranslations(QCoreApplication &app);
