// Qt's own texts (file dialogs, standard buttons, context menus) in Russian,
// like the rest of the program.
#pragma once
#include <memory>

class QTranslator;

// Loads Qt's Russian translations (qtbase_ru from Qt's translations folder)
// into the application. The translator stays installed while the result
// lives; null when the file is not there (Qt's texts stay English).
std::unique_ptr<QTranslator> LoadQtTranslations();
