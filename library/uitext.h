#pragma once
// Every text a person reads on screen (captions, labels, buttons, message boxes) is written as
// Ui::tr("中文"): the Chinese text is the source, shown as it is unless another language was
// chosen (gui::setLanguage), whose translation then stands in its place. Texts written to the
// store, SQL statements and texts handed back to a calling program never go through it, so they
// read the same whatever language a client runs in.
#include <QCoreApplication>

namespace vardex {

struct Ui {
    Q_DECLARE_TR_FUNCTIONS(Ui)
};

} // namespace vardex
