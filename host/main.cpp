// The host program: keeps the connection settings, installs the store and exercises every
// library call.
#include <QApplication>
#include <QFont>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSize(9);
    QApplication::setFont(font);
    QMainWindow window;
    window.setObjectName(QStringLiteral("Form1"));
    window.setWindowTitle(QStringLiteral("权限管理应用工具"));
    window.resize(560, 420);
    window.show();
    return app.exec();
}
