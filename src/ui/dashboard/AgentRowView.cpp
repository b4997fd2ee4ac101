#include "ui/dashboard/AgentRowView.h"

#include "core/stores/SettingsStore.h"
#include "presentation/DashboardModel.h"
#include "ui/dashboard/DashboardPainting.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"
#include "ui/kit/StatusLight.h"
#include "ui/kit/Theme.h"

#include <QAccessibleWidget>
#include <QEnterEvent>
#include <QPaintEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>

namespace tlr {
namespace {

using DashboardPainting::mix;

// The light scheme's card shadow colour (#1D2437).
const QColor kCardShadow{29, 36, 55};

constexpr qreal kCardRadius = 14;
constexpr qreal kTileRadius = 9;
// The icon tile's side; a picture other than an application's icon is inset 6.
constexpr int kTileSide = 34;
constexpr qreal kButtonRadius = 6;


}  // namespace

// ---- The state button ---------------------------------------------------------

namespace {

// The state pill: label 11.5 bold, symbol at font size 9, 4 apart, padded
// 12 × 5, radius 6, edge 0.5.
SecondaryButton* makeStateButton(QWidget* parent) {
  auto* button = new SecondaryButton(QString(), QString(), std::nullopt, parent);
  button->setLabelFont(11.5, QFont::Bold);
  button->setSymbolSide(Glyphs::sizeForFont(9));
  button->setSpacing(4);
  button->setPadding(12, 5);
  button->setCornerRadius(kButtonRadius);
  button->setEdgeWidth(0.5);
  button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  return button;
}

QString stateSymbol(RowState state) {
  switch (state) {
    case RowState::faulted:
      return QStringLiteral("exclamationmark.triangle.fill");
    case RowState::running:
      return QStringLiteral("checkmark");
    case RowState::launch:
      return QStringLiteral("play.fill");
  }
  return {};
}

SecondaryButton::Colors stateColors(RowState state) {
  const Theme::Roles r = Theme::current();
  switch (state) {
    case RowState::faulted: {
      // The tint of the status colour, its text in the status text's shade.
      SecondaryButton::Colors colors = SecondaryButton::tint(r.crash, 0.15, 0.45);
      colors.foreground = r.crashText;
      return colors;
    }
    case RowState::running: {
      SecondaryButton::Colors colors = SecondaryButton::tint(r.working, 0.15, 0.4);
      colors.foreground = r.workingText;
      return colors;
    }
    case RowState::launch:
      break;
  }
  return {Qt::white, std::nullopt, Qt::transparent};
}

}  // namespace

// ---- AgentRowView --------------------------------------------------------------

namespace {

// To assistive tools a row is a button named after its agent whose press
// opens the agent's details, as a click on it does.
class AgentRowAccessible final : public QAccessibleWidget {
 public:
  explicit AgentRowAccessible(AgentRowView* row) : QAccessibleWidget(row, QAccessible::Button) {}
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& action) override {
    if (action == pressAction()) Q_EMIT static_cast<AgentRowView*>(widget())->tapped();
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* rowAccessible(const QString& className, QObject* object) {
  if (className == QLatin1String("tlr::AgentRowView"))
    if (auto* row = qobject_cast<AgentRowView*>(object)) return new AgentRowAccessible(row);
  return nullptr;
}

}  // namespace

AgentRowView::AgentRowView(const DashboardAgentItem& item, const SettingsStore& settings, QWidget* parent)
    : QWidget(parent), item_(item), settings_(settings), hoverAnimation_(new QVariantAnimation(this)) {
  static const bool accessible = (QAccessible::installFactory(rowAccessible), true);
  Q_UNUSED(accessible);
  setObjectName(QStringLiteral("agentRow.") + item.id);
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setMinimumHeight(kMinHeight);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

  hoverAnimation_->setDuration(kHoverMs);
  hoverAnimation_->setEasingCurve(QEasingCurve::OutCubic);
  connect(hoverAnimation_, &QVariantAnimation::valueChanged, this,
          [this](const QVariant& v) { setHoverProgress(v.toReal()); });

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(16, 14, 16, 14);
  row->setSpacing(14);

  // The light's glow reaches beyond the 13-point lamp, so the light is a
  // free child centred on an empty slot of the lamp's size.
  lightSlot_ = new QWidget(this);
  lightSlot_->setFixedSize(13, 13);
  lightSlot_->installEventFilter(this);
  row->addWidget(lightSlot_);
  light_ = new StatusLight(item.isRunning ? LightState::working : LightState::idle, 13, this);

  iconTile_ = new IconTile(kTileSide, kTileRadius, 6, this);
  iconTile_->setObjectName(QStringLiteral("iconTile"));
  row->addWidget(iconTile_);

  // A long name gives way ("…") before the chip, the lock and the state
  // button do.
  auto* nameLine = new QHBoxLayout;
  nameLine->setSpacing(7);
  name_ = new Label(QString(), 14.5, QFont::DemiBold, TextRole::primary, this);
  name_->setObjectName(QStringLiteral("agentName"));
  name_->setElided(true);
  // As wide as the name at most; narrower only when the row is short.
  name_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
  nameLine->addWidget(name_);
  chip_ = new KindChip(this);
  chip_->setObjectName(QStringLiteral("kindChip"));
  nameLine->addWidget(chip_);
  lock_ = SymbolView::forFont(QStringLiteral("lock.fill"), 11, Theme::role(&Theme::Roles::cautionSymbol), this);
  lock_->setObjectName(QStringLiteral("lockMark"));
  nameLine->addWidget(lock_);
  nameLine->addStretch(1);
  row->addLayout(nameLine, 1);

  stateButton_ = makeStateButton(this);
  stateButton_->setObjectName(QStringLiteral("stateButton"));
  row->addWidget(stateButton_);
  connect(stateButton_, &QAbstractButton::clicked, this, [this] {
    if (state_ == RowState::launch)
      Q_EMIT launchRequested();
    else
      Q_EMIT tapped();
  });

  infoSlot_ = new QWidget(this);
  const int info = qCeil(Glyphs::sizeForFont(13));
  infoSlot_->setFixedSize(info, info);
  infoSlot_->setAttribute(Qt::WA_TransparentForMouseEvents);
  row->addWidget(infoSlot_);

  applyItem();
  // The scheme changes colours only; the language changes texts, which the
  // dashboard hands in again through setItem() as well.
  whenLookChanges(this, [this] { applyItem(); });
}

AgentRowView::~AgentRowView() = default;

QString AgentRowView::text(LocKey::Id id) const { return settings_.text(LocKey::plain(id)); }

void AgentRowView::setItem(const DashboardAgentItem& item) {
  item_ = item;
  applyItem();
}

void AgentRowView::applyItem() {
  const QString displayName = item_.entry.localizedDisplayName();
  name_->setPlainText(displayName);
  setAccessibleName(displayName);

  switch (item_.entry.kind) {
    case AgentEntry::Kind::desktopApp:
      chip_->setText(text(LocKey::Id::agentKindApp));
      break;
    case AgentEntry::Kind::cli:
      chip_->setText(text(LocKey::Id::agentKindCli));
      break;
    case AgentEntry::Kind::idePlugin:
      chip_->setText(text(LocKey::Id::agentKindPlugin));
      break;
  }

  lock_->setVisible(item_.isLockedOnline);
  lock_->setToolTip(text(LocKey::Id::lockOnlineIndicator));
  lock_->setAccessibleName(text(LocKey::Id::lockOnlineIndicator));

  // Faulted beats running beats stopped; the button says what the row's
  // status says, how many instances run included (a faulted agent may run
  // on), as the counters count them.
  QString tooltip;
  if (item_.isFaulted) {
    state_ = RowState::faulted;
    stateButton_->setLabel(DashboardModel::statusText(item_, settings_.language()));
    tooltip = text(LocKey::Id::helpRowFaulted);
  } else if (item_.isRunning) {
    state_ = RowState::running;
    stateButton_->setLabel(DashboardModel::statusText(item_, settings_.language()));
    tooltip = text(LocKey::Id::helpRowDetail);
  } else {
    state_ = RowState::launch;
    stateButton_->setLabel(text(LocKey::Id::rowStateLaunch));
    tooltip = settings_.text(LocKey::helpRowLaunch(displayName));
  }
  stateButton_->setToolTip(tooltip);
  // A Tab stop of its own only while it does something the row does not
  // (Launch); a focused Launch that turned into Running or Faulted hands the
  // focus to the row, which now does what it does.
  const bool launches = state_ == RowState::launch;
  if (!launches && stateButton_->hasFocus()) setFocus(Qt::OtherFocusReason);
  stateButton_->setFocusPolicy(launches ? Qt::TabFocus : Qt::NoFocus);
  stateButton_->setSymbol(stateSymbol(state_));
  stateButton_->setColors([state = state_] { return stateColors(state); });

  // The row never shows the recovering state.
  light_->setState(item_.isRunning ? LightState::working : LightState::idle);
  const std::optional<AgentIconResolver::Resolved> icon = AgentIconResolver::resolve(item_.entry);
  iconTile_->setPicture(icon ? icon->image : QPixmap(), icon && icon->isAppIcon);
  setAccessibleDescription(item_.bigStatusText);
  update();
}

QSize AgentRowView::sizeHint() const {
  QSize hint = QWidget::sizeHint();
  hint.setHeight(qMax(hint.height(), kMinHeight));
  return hint;
}

QSize AgentRowView::minimumSizeHint() const {
  QSize hint = QWidget::minimumSizeHint();
  hint.setHeight(qMax(hint.height(), kMinHeight));
  return hint;
}

void AgentRowView::setHoverProgress(qreal progress) {
  if (qFuzzyCompare(progress + 1, hoverProgress_ + 1)) return;
  hoverProgress_ = progress;
  update();
  Q_EMIT hoverProgressChanged(progress);
}

void AgentRowView::setHovering(bool hovering) {
  if (hovering == hovering_) return;
  hovering_ = hovering;
  hoverAnimation_->stop();
  hoverAnimation_->setStartValue(hoverProgress_);
  hoverAnimation_->setEndValue(hovering ? 1.0 : 0.0);
  hoverAnimation_->start();
}

void AgentRowView::enterEvent(QEnterEvent* event) {
  setHovering(true);
  QWidget::enterEvent(event);
}

void AgentRowView::leaveEvent(QEvent* event) {
  setHovering(false);
  QWidget::leaveEvent(event);
}

void AgentRowView::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void AgentRowView::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click) Q_EMIT tapped();
}

void AgentRowView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) {
    Q_EMIT tapped();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool AgentRowView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lightSlot_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) placeLight();
  return QWidget::eventFilter(watched, event);
}

void AgentRowView::placeLight() {
  // Centred on the lamp's slot: the glow margin on every side.
  const QSize size = light_->sizeHint();
  const QRect slot = lightSlot_->geometry();
  light_->setGeometry(QRect(slot.x() - (size.width() - slot.width()) / 2,
                            slot.y() - (size.height() - slot.height()) / 2, size.width(), size.height()));
}

void AgentRowView::paintShadow(QPainter& painter, QPointF origin) const {
  const Theme::Roles r = Theme::current();
  if (r.dark) return;  // the dark scheme casts no visible shadow
  const QSizeF size = QSizeF(this->size());
  const qreal h = hoverProgress_;
  // At rest: 0.04, radius 4, 1 down; hovered: 0.10, radius 14, 5 down. The
  // two pre-rendered shadows cross-fade.
  if (h < 1)
    DashboardPainting::drawShadow(painter, origin + QPointF(0, 1), size, kCardRadius,
                                  Theme::withOpacity(kCardShadow, 0.04), 4, 1 - h);
  if (h > 0)
    DashboardPainting::drawShadow(painter, origin + QPointF(0, 5), size, kCardRadius,
                                  Theme::withOpacity(kCardShadow, 0.10), 14, h);
}

void AgentRowView::paintCard(QPainter& p) const {
  p.setRenderHint(QPainter::Antialiasing);
  const Theme::Roles r = Theme::current();
  const qreal h = hoverProgress_;
  const QRectF card(rect());
  const QPainterPath shape = Painting::continuousRoundRect(card, kCardRadius);
  p.fillPath(shape, r.dark ? mix(Theme::cardDark, Theme::cardHoverDark, h) : Theme::cardLight);

  // The icon tile's shadow: black at 0.4 (dark) or 0.18 (light), radius 5 →
  // 8 and 2 → 4 down with the hover.
  const QColor tileShadow(0, 0, 0, qRound((r.dark ? 0.4 : 0.18) * 255));
  const QPointF tileAt = iconTile_->geometry().topLeft();
  const QSizeF tileSize(kTileSide, kTileSide);
  if (h < 1) DashboardPainting::drawShadow(p, tileAt + QPointF(0, 2), tileSize, kTileRadius, tileShadow, 5, 1 - h);
  if (h > 0) DashboardPainting::drawShadow(p, tileAt + QPointF(0, 4), tileSize, kTileRadius, tileShadow, 8, h);

  // The launch button's glow (light scheme only: brand1Light at 0.3).
  if (!r.dark && state_ == RowState::launch)
    DashboardPainting::drawShadow(p, QPointF(stateButton_->geometry().topLeft()) + QPointF(0, 2),
                                  QSizeF(stateButton_->size()), kButtonRadius,
                                  Theme::withOpacity(Theme::brand1Light, 0.3), 6);

  // The information symbol.
  // At rest in the faint text colour, which keeps an icon's 3:1 and more.
  const QColor infoColor = mix(r.textFaint, r.accent, h);
  Glyphs::paint(p, u"info.circle", QRectF(infoSlot_->geometry()), infoColor);

  // The border, wholly inside the card.
  QColor border;
  if (item_.isFaulted)
    border = Theme::withOpacity(r.crash, 0.35);
  else
    border = mix(r.contrast(0.06), Theme::withOpacity(r.accent, 0.45), h);
  p.setPen(QPen(border, 1));
  p.drawPath(Painting::continuousRoundRect(card.adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius - 0.5));
}

void AgentRowView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  // While the hover animates, every frame differs: paint straight away.
  if (hoverProgress_ > 0 && hoverProgress_ < 1) {
    paintCard(p);
    if (hasFocus()) paintFocusRing(p, QRectF(rect()), kCardRadius);
    return;
  }
  // At rest the card is the same picture until its item, size, scheme or
  // hover changes; the lights breathing over it repaint small parts of it
  // many times a second, which then cost one blit.
  const qreal dpr = devicePixelRatioF();
  const CardKey key{size(),
                    dpr,
                    Theme::current().dark,
                    hoverProgress_ >= 1,
                    item_.isFaulted,
                    state_,
                    stateButton_->geometry(),
                    iconTile_->geometry(),
                    infoSlot_->geometry()};
  if (!(key == cardKey_) || cardCache_.isNull()) {
    cardCache_ = QPixmap(size() * dpr);
    cardCache_.setDevicePixelRatio(dpr);
    cardCache_.fill(Qt::transparent);
    QPainter cp(&cardCache_);
    paintCard(cp);
    cardKey_ = key;
  }
  const QRect dirty = event->rect();
  p.drawPixmap(dirty, cardCache_, QRectF(QPointF(dirty.topLeft()) * dpr, QSizeF(dirty.size()) * dpr).toRect());
  // Rows take the focus from Tab only: where the keyboard is.
  if (hasFocus()) paintFocusRing(p, QRectF(rect()), kCardRadius);
}

void AgentRowView::focusInEvent(QFocusEvent* event) {
  update();
  QWidget::focusInEvent(event);
}

void AgentRowView::focusOutEvent(QFocusEvent* event) {
  update();
  QWidget::focusOutEvent(event);
}

}  // namespace tlr
