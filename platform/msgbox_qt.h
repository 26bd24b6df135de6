#pragma once
// The widget side of the message-box service: real QMessageBox windows when the process has a
// display, and the application object a library client may lack.

namespace vardex::gui {

// Makes sure the process has an application object: a QApplication when a display can be
// reached, otherwise a QCoreApplication (boxes then go to standard error). Never aborts.
void ensureApplication();

// True when the process has a QApplication (windows can be shown).
bool haveWidgets();

// Registers the QMessageBox presenter with the message-box service (idempotent).
void installMessagePresenter();

} // namespace vardex::gui
