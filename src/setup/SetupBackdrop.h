#pragma once

#include <QDialog>
#include <QFont>
#include <QImage>
#include <QTimer>
#include <functional>
#include <memory>

namespace Ui {
class SetupBackdrop;
}

namespace qhs {

// The full-screen window behind the installer: a colour gradient, the word "Installation"
// and the product's title pulsing between green and cyan.
//
// Once shown it runs the installer through `runInstaller`, a nested modal run on this
// (the window) thread; its own timers keep animating inside that run. When the installer
// has closed, the 10 ms watch timer ends the backdrop. Until then the backdrop refuses to
// close, and the modal installer keeps input away from it.
class SetupBackdrop : public QDialog {
    Q_OBJECT

  public:
    // An empty screen size means the primary screen's.
    explicit SetupBackdrop(std::function<void()> runInstaller, QSize screenSize = {},
                           QWidget* parent = nullptr);
    ~SetupBackdrop() override;

    // The title's blue component: rises by 4 to 252, falls by 4 to 4, and so on.
    int level() const { return level_; }
    void advancePulse();
    bool installerRunning() const { return installerRunning_; }

    // The top-left to bottom-right gradient for a screen of that size: red grows to the
    // right, green and blue downwards. Null when the memory for it cannot be had.
    static QImage gradientImage(QSize screenSize);

    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildGradient(QSize screenSize);
    void runInstallerOnce();
    void endWhenInstallerClosed();
    void paintTexts(QWidget& layer);
    QRect titleArea() const;

    std::unique_ptr<Ui::SetupBackdrop> ui_;
    std::function<void()> runInstaller_;
    QWidget* textLayer_ = nullptr;
    QFont textFont_;
    QTimer pulseTimer_;
    QTimer installerWatch_;
    int level_ = 0;
    bool falling_ = false;
    bool pulseStarted_ = false;
    bool installerStarted_ = false;
    bool installerRunning_ = true;
};

}  // namespace qhs
