#include "app/MainMenu.h"

#include <QDialog>
#include <QLayout>
#include <QMenuBar>

namespace qhs {

MainMenu buildMainMenu(QDialog& window) {
    MainMenu menu;
    menu.bar = new QMenuBar(&window);
    menu.bar->setObjectName(QStringLiteral("mainMenu"));
    window.layout()->setMenuBar(menu.bar);
    auto addItem = [](QMenu* parent, const char* text, int id) {
        QAction* action = parent->addAction(QString::fromLatin1(text));
        action->setProperty("controlId", id);
        action->setObjectName(QStringLiteral("command%1").arg(id));
        return action;
    };
    menu.file = menu.bar->addMenu(QStringLiteral("&File"));
    menu.save = addItem(menu.file, "&Save", 57603);
    menu.exit = addItem(menu.file, "&Exit", 32774);
    QMenu* settings = menu.bar->addMenu(QStringLiteral("Settings"));
    menu.networkInterface = addItem(settings, "&Network interface", 32780);
    menu.general = addItem(settings, "&General", 32789);
    QMenu* help = menu.bar->addMenu(QStringLiteral("&Help"));
    menu.help = addItem(help, "&Help", 32778);
    menu.about = addItem(help, "&About", 32779);
    return menu;
}

}  // namespace qhs
