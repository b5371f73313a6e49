// Escape held down on a real X server (its auto-repeat on) to stop a run: the save question
// that follows must wait for a fresh press.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

#include "Station.h"
#include "XTestKeyboard.h"
#include "app/X11Keyboard.h"
#include "ui/QtDialogs.h"

namespace kelvaro {
namespace {

// The station's own dialogs on screen, but for the start-up's confirmation, answered OK.
class OnScreenDialogs : public QtDialogs {
  public:
    using QtDialogs::QtDialogs;
    DialogResult MessageBox(const std::string& text, const std::string& title,
                            DialogButtons buttons, DialogIcon icon) override {
        texts.push_back(text);
        if (buttons == DialogButtons::OkCancel) {
            return DialogResult::Ok;
        }
        return QtDialogs::MessageBox(text, title, buttons, icon);
    }
    std::vector<std::string> texts;
};

TEST(HeldEscapeTest, StopsTheRunButOnlyAFreshPressAnswersTheSaveQuestion) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "no X server could be started";
    }
    testing::XTestKeyboard keyboard;
    ASSERT_TRUE(keyboard.Ok());
    keyboard.RepeatEvery(250, 30);

    OnScreenDialogs dialogs(KeysDownOnX11Server);
    testing::Station station;
    station.SeedReadyPlates(300);
    station.window = std::make_unique<MainWindow>(
        dialogs,
        MainWindowOptions{station.SettingsPath(), QString::fromStdString(station.dir.File("bin")),
                          false, station.JournalFolder()});
    MainWindow& window = *station.window;
    window.show();
    window.OnStartClicked();
    station.FinishStartUp();
    ASSERT_TRUE(window.IdlePassRunning()) << dialogs.texts.back();
    ASSERT_GE(station.RunUntil(100), 100);

    // Escape goes down and stays down for 1.5 s after the question appears, then a fresh
    // press follows half a second after its release.
    QElapsedTimer sinceQuestion;
    bool openAfterHold = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!sinceQuestion.isValid()) {
            if (box != nullptr) {
                sinceQuestion.start();
            }
            return;
        }
        const qint64 elapsed = sinceQuestion.elapsed();
        if (box == nullptr) {
            return;
        }
        if (elapsed >= 1500 && elapsed < 2000) {
            keyboard.Escape(false);
        } else if (elapsed >= 2000 && !openAfterHold) {
            openAfterHold = true;
            keyboard.Escape(true);
            keyboard.Escape(false);
        } else if (elapsed >= 8000) {
            box->reject();  // the fresh press never arrived: end the test, not the suite
        }
    });
    watch.start();
    keyboard.Escape(true);
    station.RunUntil(kMaxSamples, 15000);
    // The question has been answered once the stop is over.
    const qint64 answeredAfterMs = sinceQuestion.isValid() ? sinceQuestion.elapsed() : -1;
    keyboard.Escape(false);
    watch.stop();

    EXPECT_FALSE(window.IdlePassRunning());
    EXPECT_TRUE(sinceQuestion.isValid()) << "the save question never appeared";
    EXPECT_TRUE(openAfterHold) << "answered " << answeredAfterMs << " ms after it appeared";
    EXPECT_GE(answeredAfterMs, 2000);
    EXPECT_LT(answeredAfterMs, 8000);
    EXPECT_EQ(dialogs.texts, (std::vector<std::string>{"Clique em OK para Inicar o Teste!",
                                                       "Deseja salvar o teste?"}));
}

}  // namespace
}  // namespace kelvaro
