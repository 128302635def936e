#pragma once

class QAction;
class QDialog;
class QMenu;
class QMenuBar;

namespace qhs {

// The main menu both main windows share; each item carries its command id as controlId.
struct MainMenu {
    QMenuBar* bar = nullptr;
    QMenu* file = nullptr;
    QAction* save = nullptr;              // 57603
    QAction* exit = nullptr;              // 32774
    QAction* networkInterface = nullptr;  // 32780
    QAction* general = nullptr;           // 32789
    QAction* help = nullptr;              // 32778
    QAction* about = nullptr;             // 32779
};

// Builds the menu at the top of a dialog whose layout is set.
MainMenu buildMainMenu(QDialog& window);

}  // namespace qhs
