// brevak-bare-window: the least a Qt 6 Widgets program does to put an 800 x 572 window on
// screen. program_bench.py measures BREVAK's start-up time and memory against it.
// Prints "shown" (flushed) when the window is first exposed, then idles until closed.

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <cstdio>

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
  window.winId();  // creates the QWindow, so the filter sees its first expose
  ExposeReporter reporter;
  window.windowHandle()->installEventFilter(&reporter);
  window.show();
  return app.exec();
}
