#pragma once
// The language of the windows and message boxes. Chinese ("zh") is built in and is the default
// whatever the machine's locale says; English ("en") comes from a translation compiled into this
// library. The choice is explicit: a call, the host's settings, or VARDEX_LANG.
#include <QString>

namespace vardex::gui {

// "zh" or "en" (exactly, lower case); returns false and changes nothing for any other code or
// when the process has no application object yet. Windows and boxes made afterwards use it.
bool setLanguage(const QString& code);

// The language in force: "zh" or "en".
QString language();

// Applies VARDEX_LANG once, unless a language was already chosen with setLanguage. An empty or
// unknown value leaves Chinese (a warning names an unknown one).
void applyEnvironmentLanguage();

} // namespace vardex::gui
