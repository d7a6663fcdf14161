#pragma once

#include <QString>
#include <QTranslator>

#include <memory>

// The wording library names its language (text 162, "en", "sv", ...) so that
// the toolkit's own texts (Yes and No of a question, the colour dialog) speak
// it too. Installs Qt's translation for that language from Qt's translations
// folder; the translator stays installed while the returned object lives.
// Nothing when there is none for the language (English needs none).
std::unique_ptr<QTranslator> LoadToolkitTranslation(const QString &sLanguage);

// The wording's language code, text 162 of the wording library.
QString WordingLanguage();
