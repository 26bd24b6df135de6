#include "platform/msgservice.h"

#include <cstdio>

namespace vardex {

namespace {
MessageHandler& clientHandler() {
    static MessageHandler h;
    return h;
}
MessageHandler& presenter() {
    static MessageHandler h;
    return h;
}
} // namespace

int defaultAnswer(uint32_t type) {
    switch (type & mb::ButtonMask) {
    case mb::YesNoCancel:
    case mb::YesNo:
        return mb::IdYes;
    default:
        return mb::IdOk;
    }
}

namespace {
int toStandardError(const QString& text, const QString& caption, uint32_t type) {
    std::fprintf(stderr, "[%s] %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    return defaultAnswer(type);
}
} // namespace

int showMessage(const QString& text, const QString& caption, uint32_t type, QWidget* owner) {
    MessageBoxRequest request{text, caption, type, owner};
    if (clientHandler())
        return clientHandler()(request);
    if (presenter())
        return presenter()(request);
    return toStandardError(text, caption, type);
}

void notifyWarning(const QString& text, const QString& caption) {
    const uint32_t type = mb::Ok | mb::IconWarning;
    if (clientHandler())
        clientHandler()({text, caption, type, nullptr});
    else
        toStandardError(text, caption, type);
}

void setMessageHandler(MessageHandler handler) {
    clientHandler() = std::move(handler);
}
void setMessagePresenter(MessageHandler p) {
    presenter() = std::move(p);
}

} // namespace vardex
