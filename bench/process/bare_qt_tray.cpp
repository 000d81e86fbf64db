// The least a Qt tray program is: an icon in the tray with a menu, a timer ticking every second,
// nothing else. Runs until ended.
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  QPixmap picture(22, 22);
  picture.fill(Qt::darkGreen);
  QSystemTrayIcon tray{QIcon(picture)};
  QMenu menu;
  menu.addAction(QStringLiteral("Quit"), &app, &QApplication::quit);
  tray.setContextMenu(&menu);
  tray.show();
  QTimer tick;
  tick.start(1000);
  return app.exec();
}
