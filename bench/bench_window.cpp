// The window's figures, each mode a process of its own:
//   bench_window minimal   a bare QMainWindow; exits once it is shown
//   bench_window textual   a QMainWindow with a one-item menu bar and a text area, for context
//   bench_window window    the program's window, set up as main() does; exits once shown
//   bench_window hex       the HEX command on a source of 1 MiB output; prints when the box
//                          was shown and answered events, counted from the command's start
//   bench_window line open|paste N
//                          a line of N hex digits dropped as a file or pasted; prints when the
//                          window answered again, the line shown or refused with a box
#include "asmedit.h"
#include "frmmain.h"
#include "programsetup.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

// Quits the application when the window is first exposed on screen.
class QuitWhenShown : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed())
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return false;
    }
};

int ShowAndQuit(QWidget &window) {
    QuitWhenShown filter;
    window.winId();  // create the native window, to watch it
    window.windowHandle()->installEventFilter(&filter);
    window.show();
    return QApplication::exec();
}

int Hex() {
    frmMain window;
    window.show();
    window.textArea()->setPlainText(QStringLiteral("times 1048576 db 0x90"));
    QElapsedTimer clock;
    // Poll for the box; once up, time how long an event posted to it waits.
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || !box->isVisible() || box->objectName() != QLatin1StringView("textEntryBox")) return;
        poll.stop();
        const double shown = clock.nsecsElapsed() / 1e6;
        QTimer::singleShot(0, box, [&clock, shown, box] {
            std::printf("hex box shown %.1f ms, answering %.1f ms after the command started\n", shown,
                        clock.nsecsElapsed() / 1e6);
            std::fflush(stdout);
            box->close();
        });
    });
    QTimer::singleShot(300, [&] {  // after start-up, so that the copy of NASM is in place
        poll.start();
        clock.start();
        window.CreateHexString();
    });
    QObject::connect(&window, &frmMain::commandFinished, qApp, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}

int Line(const QByteArray &how, qsizetype length) {
    frmMain window;
    window.show();
    QByteArray line(length, '0');
    for (qsizetype i = 0; i < length; ++i) line[i] = "0123456789ABCDEF"[i % 16];
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("line.asm")));
    if (!file.open(QIODevice::WriteOnly) || file.write(line + "\r\n") != length + 2) return 2;
    file.close();
    QElapsedTimer clock;
    bool refused = false;
    QTimer poll;  // the refusal box: counted once it is up, then closed
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || !box->isVisible()) return;
        poll.stop();
        refused = true;
        std::printf("%s a line of %lld characters: refused, box up after %.1f ms\n", how.constData(), qlonglong(length),
                    clock.nsecsElapsed() / 1e6);
        box->close();
    });
    QTimer::singleShot(300, [&] {
        poll.start();
        clock.start();
        if (how == "paste") {
            QGuiApplication::clipboard()->setText(QString::fromLatin1(line));
            window.textArea()->paste();
        } else {
            window.DropFiles({file.fileName()});
        }
        if (!refused) {
            window.textArea()->viewport()->repaint();
            QTimer::singleShot(0, [&] {
                std::printf("%s a line of %lld characters: shown, answering after %.1f ms\n", how.constData(),
                            qlonglong(length), clock.nsecsElapsed() / 1e6);
            });
        }
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    });
    return QApplication::exec();
}

}  // namespace

int main(int argc, char *argv[]) {
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    QApplication app(argc, argv);
    if (mode == "minimal" || mode == "textual") {
        QMainWindow window;
        if (mode == "textual") {
            window.menuBar()->addMenu(QStringLiteral("Файл"))->addAction(QStringLiteral("Открыть"));
            window.setCentralWidget(new QPlainTextEdit);
        }
        window.resize(593, 527);
        return ShowAndQuit(window);
    }
    SetUpWindowProgram(app);
    if (mode == "window") {
        frmMain window;
        const int code = ShowAndQuit(window);
        return code;
    }
    if (mode == "hex") return Hex();
    if (mode == "line" && argc > 3) return Line(argv[2], QByteArray(argv[3]).toLongLong());
    std::fprintf(stderr, "usage: bench_window minimal|window|hex|line open|paste N\n");
    return 2;
}
