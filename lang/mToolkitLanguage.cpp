#include "mToolkitLanguage.h"

#include "mLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

namespace {

constexpr qint32 kWordingLanguageText = 162;

// Qt 6 asks for the texts of standard buttons (Yes, No, OK, Cancel) under
// "QPlatformTheme"; older catalogues, among them the only Swedish one Debian
// ships, hold them under "QDialogButtonBox". Both are asked.
class ToolkitTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        QString text = QTranslator::translate(context, sourceText, disambiguation, n);
        if (text.isEmpty() && qstrcmp(context, "QPlatformTheme") == 0)
            text = QTranslator::translate("QDialogButtonBox", sourceText, disambiguation, n);
        return text;
    }
};

} // namespace

QString WordingLanguage()
{
    return LangString(kWordingLanguageText);
}

std::unique_ptr<QTranslator> LoadToolkitTranslation(const QString &sLanguage)
{
    // A language code and nothing else: the text comes from a library anyone may replace.
    static const QRegularExpression code(QStringLiteral("^[a-z]{2,3}(_[A-Z]{2})?$"));
    if (!code.match(sLanguage).hasMatch())
        return nullptr;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    std::unique_ptr<QTranslator> translator = std::make_unique<ToolkitTranslator>();
    if (!translator->load(QStringLiteral("qtbase_") + sLanguage, folder) &&
        !translator->load(QStringLiteral("qt_") + sLanguage, folder))
        return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator;
}
