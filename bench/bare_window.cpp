// brevak-bare-window: the least a Qt 6 Widgets program does to put an 800 x 572 window on
// screen. program_bench.py measures BREVAK's start-up time and memory against it.
// Prints "shown" (flushed) when the window is first exposed, then idles until closed.
// With --text the window also shows a paragraph in BREVAK's font: the least a window with text
// costs (the font configuration read, a face loaded, text shaped), a second point of reference.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <string_view>

namespace {

class ExposeReporter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!reported_ && event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
      reported_ = true;
      std::puts("shown");
      std::fflush(stdout);
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool reported_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("bare window");
  window.setFixedSize(800, 572);
  if (argc > 1 && std::string_view(argv[1]) == "--text") {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    window.setFont(font);
    auto* label = new QLabel(QStringLiteral("Profile 1 \u00b7 DPI 800 1600 3200 \u00b7 Polling rate 1000 Hz \u00b7 "
                                            "Lighting: breathing \u00b7 Debounce 4 ms \u00b7 Battery 57%"));
    label->setWordWrap(true);
    (new QVBoxLayout(&window))->addWidget(label);
  }
  window.winId();  // creates the QWindow, so the filter sees its first expose
  ExposeReporter reporter;
  window.windowHandle()->installEventFilter(&reporter);
  window.show();
  return app.exec();
}
