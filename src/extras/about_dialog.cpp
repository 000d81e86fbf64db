#include "extras/about_dialog.h"

#include "core/app_paths.h"
#include "core/prompts.h"
#include "extras/about_texts.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaMethod>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>
#include <QUrl>
#include <QVBoxLayout>

namespace chimewise {

namespace {

constexpr int kIconSize = 64;

QPixmap programIcon(qreal ratio) {
  QSvgRenderer svg(QStringLiteral(":/about/olm-chimewise.svg"));
  QPixmap pixmap(QSize(kIconSize, kIconSize) * ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  svg.render(&painter);
  painter.end();
  pixmap.setDevicePixelRatio(ratio);
  return pixmap;
}

QLabel* textLabel(const QString& name, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

AboutDialog::AboutDialog(QString appFolder, Prompter& prompter, ProgramLauncher& launcher, QWidget* parent)
    : QDialog(parent), m_appFolder(std::move(appFolder)), m_prompter(prompter), m_launcher(launcher) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(AboutCaption());
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("picIcon"));
  icon->setPixmap(programIcon(devicePixelRatioF()));
  icon->setFixedSize(kIconSize, kIconSize);

  auto* title = new QLabel(kProgramTitle, this);
  title->setObjectName(QStringLiteral("lblTitle"));
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  title->setFont(big);

  auto* version = new QLabel(AboutVersionText(), this);
  version->setObjectName(QStringLiteral("lblVersion"));
  version->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette dim = version->palette();
  dim.setColor(QPalette::WindowText, dim.color(QPalette::PlaceholderText));
  version->setPalette(dim);

  auto* description = textLabel(QStringLiteral("lblDescription"), AboutDescription(), this);

  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);

  auto* notice = textLabel(QStringLiteral("lblDisclaimer"), AboutNotice(), this);
  QFont small = notice->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  notice->setFont(small);
  notice->setPalette(dim);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("cmdOK"));
  ok->setDefault(true);
  auto* sysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
  sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
  auto* more = new QPushButton(QStringLiteral("Detailed Info"), this);
  more->setObjectName(QStringLiteral("cmdMore"));
  for (QPushButton* b : {ok, sysInfo, more}) b->setMinimumWidth(110);

  auto* heading = new QVBoxLayout;
  heading->setSpacing(2);
  heading->addStretch(1);
  heading->addWidget(title);
  heading->addWidget(version);
  heading->addStretch(1);
  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addLayout(heading, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(more);
  buttons->addStretch(1);
  buttons->addWidget(sysInfo);
  buttons->addWidget(ok);

  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(20, 20, 20, 16);
  page->setSpacing(12);
  page->addLayout(top);
  page->addWidget(description);
  page->addWidget(rule);
  page->addWidget(notice);
  page->addSpacing(4);
  page->addLayout(buttons);

  // Word-wrapped labels: the height follows from the width.
  constexpr int kWidth = 480;
  setFixedSize(kWidth, page->hasHeightForWidth() ? page->totalHeightForWidth(kWidth) : sizeHint().height());

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(sysInfo, &QPushButton::clicked, this, &AboutDialog::StartSysInfo);
  connect(more, &QPushButton::clicked, this, &AboutDialog::ShowDetailedInfo);
  ok->setFocus();
}

void AboutDialog::StartSysInfo() { chimewise::StartSysInfo(m_prompter, m_launcher); }

QString AboutDialog::helpPagePath() const {
  return FindPathNoCase(m_appFolder, kAboutHelpPage).value_or(m_appFolder + QLatin1Char('/') + kAboutHelpPage);
}

void AboutDialog::ShowDetailedInfo() {
  const QString path = helpPagePath();
  accept();
  if (isSignalConnected(QMetaMethod::fromSignal(&AboutDialog::openDocument)))
    emit openDocument(path);
  else
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void AboutDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_placed) return;
  m_placed = true;
  const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->geometry();
  const QSize size = frameGeometry().size();
  move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

}  // namespace chimewise
