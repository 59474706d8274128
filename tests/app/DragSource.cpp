// zephyrine-drag-source FILE: a small window titled "drag-source" that starts a drag of FILE's
// URL when the mouse is pressed on it (the whole-program test moves and releases the mouse with
// xdotool), says when the target over which it is accepts it, and ends a while after the drop.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class TDragSource : public QWidget {
  public:
    explicit TDragSource(QString file) : file_(std::move(file)) {
        setWindowTitle("drag-source");
        resize(120, 120);
    }

  protected:
    void mousePressEvent(QMouseEvent*) override {
        std::printf("drag started\n");
        std::fflush(stdout);
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(file_)});
        drag->setMimeData(data);
        // The target's answer to the drag over it: a drop now is taken.
        connect(drag, &QDrag::actionChanged, this, [](Qt::DropAction action) {
            if (action != Qt::CopyAction) return;
            std::printf("drag accepted\n");
            std::fflush(stdout);
        });
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("drag ended: %s\n", action == Qt::CopyAction ? "copied" : "refused");
        std::fflush(stdout);
        // The target asks for the data after the drop: serve it a while longer.
        QTimer::singleShot(10000, qApp, &QApplication::quit);
    }

  private:
    QString file_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) return 2;
    TDragSource source(QString::fromLocal8Bit(argv[1]));
    source.move(880, 620);  // clear of the main window, centred on 1024x768
    source.show();
    return app.exec();
}
